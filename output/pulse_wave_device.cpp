// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/pulse_wave_device.h"

#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <deque>

namespace quorvex {

namespace {

// Holds the main loop's lock for a scope. Taken on the owner thread only:
// the loop's own callbacks already run with it held.
class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop* loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
    ~LoopLock() { pa_threaded_mainloop_unlock(loop_); }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

// What the server may hold of the stream, its own buffer and the sink's
// together: as much as a playback ever queues (two 250 ms chunks), so that
// whatever has been written is on the server at once and a busy moment of
// the loop's thread (a parallel compile delays it by a few hundred
// milliseconds at times) cannot starve the stream. The server splits it:
// (kTargetLatency - 2 * kRefillStep) / 2 = 50 ms in the sink, which is what
// still sounds after a reset (the flush empties the rest), the remainder in
// the stream's buffer, topped up in steps of kRefillStep. On PipeWire the
// sink's share sets the graph's cycle: 50 ms, so 2048-frame cycles.
constexpr pa_usec_t kTargetLatency = 500 * PA_USEC_PER_MSEC;
constexpr pa_usec_t kRefillStep = 200 * PA_USEC_PER_MSEC;
constexpr pa_usec_t kSinkShare = (kTargetLatency - 2 * kRefillStep) / 2;
// A stream starts (and after running dry starts again) once it holds this
// much: small, so sound begins as soon as the first frames are in.
constexpr pa_usec_t kPrebuffer = 10 * PA_USEC_PER_MSEC;
// An open gives up when the server has accepted the connection but not
// answered within this time (a server that is stopped or hanging).
constexpr pa_usec_t kOpenTimeout = 1500 * PA_USEC_PER_MSEC;
// Bounds of the wait between two looks at the play position while a header
// waits for its done notification.
constexpr pa_usec_t kMinCheck = 1 * PA_USEC_PER_MSEC;
constexpr pa_usec_t kMaxCheck = 100 * PA_USEC_PER_MSEC;

MMRESULT OpenFailureCode(int error) {
    switch (error) {
    case PA_ERR_NOENTITY:
    case PA_ERR_CONNECTIONREFUSED:
    case PA_ERR_CONNECTIONTERMINATED:
    case PA_ERR_INVALIDSERVER:
        return MMSYSERR_NODRIVER;
    case PA_ERR_NOTSUPPORTED:
    case PA_ERR_INVALID:
        return WAVERR_BADFORMAT;
    case PA_ERR_BUSY:
        return MMSYSERR_ALLOCATED;
    default:
        return MMSYSERR_ERROR;
    }
}

void Release(pa_operation* operation) {
    if (operation) {
        pa_operation_unref(operation);
    }
}

}  // namespace

// One open stream. Open, Write, Reset, Close and the destructor run on the
// owner thread and take the loop's lock; the On* callbacks run on the loop's
// thread with the lock held. Everything below "Guarded" is shared.
class PulseOutput {
public:
    PulseOutput(HWAVEOUT handle, QObject* target, std::atomic<std::uint64_t>& device_underruns)
        : handle_(handle), target_(target), device_underruns_(device_underruns) {}
    ~PulseOutput() { TearDown(); }
    PulseOutput(const PulseOutput&) = delete;
    PulseOutput& operator=(const PulseOutput&) = delete;

    MMRESULT Open(const std::string& stream_name, const WAVEFORMATEX& format);
    MMRESULT Write(WAVEHDR* header);
    void Reset();
    void Close();
    bool Lost();
    std::uint64_t BytesWritten();
    std::uint64_t Underruns();

private:
    struct Entry {
        WAVEHDR* header;
        std::int64_t end;  // stream index after its last byte, once written
        bool written;
    };

    static void OnContextState(pa_context* context, void* self);
    static void OnStreamState(pa_stream* stream, void* self);
    static void OnWriteRequest(pa_stream* stream, size_t bytes, void* self);
    static void OnTimer(pa_mainloop_api* api, pa_time_event* event, const struct timeval* tv, void* self);
    static void OnTimingInfo(pa_stream* stream, int success, void* self);
    static void OnResynced(pa_stream* stream, int success, void* self);
    static void OnOpenTimeout(pa_mainloop_api* api, pa_time_event* event, const struct timeval* tv, void* self);
    static void OnUnderflow(pa_stream* stream, void* self);
    static void OnOverflow(pa_stream* stream, void* self);
    static void OnDrained(pa_stream* stream, int success, void* self);

    void Fill(std::size_t bytes);
    void EndOfQueue();
    void CountUnderrun();
    void ForgetDrain();
    void CheckPlayed();
    void RequestTimingUpdate();
    void ArmTimer(pa_usec_t delay);
    void ReturnAll();
    void Lose();
    void Post(QEvent::Type type, WAVEHDR* header = nullptr);
    void Disconnect();
    void TearDown();
    pa_usec_t BytesToUsec(std::int64_t bytes) const {
        return pa_bytes_to_usec(static_cast<std::uint64_t>(std::max<std::int64_t>(bytes, 0)), &spec_);
    }

    const HWAVEOUT handle_;
    QObject* const target_;
    std::atomic<std::uint64_t>& device_underruns_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    pa_sample_spec spec_{};

    // Guarded by the loop's lock.
    pa_time_event* timer_ = nullptr;
    pa_time_event* deadline_ = nullptr;  // of the open
    bool timed_out_ = false;
    pa_operation* drain_ = nullptr;  // asked for, not yet answered
    // Every queued header is fully written and nothing follows: the server
    // has been asked to play out all it holds (a drain), since PipeWire
    // otherwise keeps back the last stretch shorter than its cycle.
    bool ending_ = false;
    bool ran_dry_ = false;              // played out while ending_
    bool underflow_counted_ = false;    // since the drain was asked for
    bool seek_on_read_ = false;         // the next write goes to the read index
    std::int64_t seek_base_ = -1;       // written_ before that write, until resynced
    std::int64_t flushed_at_ = -1;      // write index after the last reset
    std::uint64_t underruns_ = 0;       // of this stream
    std::deque<Entry> queue_;
    std::size_t unwritten_ = 0;      // index of the first entry not yet fully written
    std::size_t offset_ = 0;         // bytes of that entry written in this pass
    std::uint32_t passes_left_ = 0;  // of that entry, this pass included; 0: not started
    std::int64_t written_ = 0;       // stream write index after our last write
    std::int64_t last_read_ = -1;    // read index at the last look
    pa_usec_t read_seen_at_ = 0;     // when the read index last moved
    bool syncing_ = false;           // after a flush, until the write index is known again
    bool timer_armed_ = false;
    bool update_pending_ = false;
    bool triggered_ = false;
    bool open_ = false;  // from now on a failure is a loss
    bool lost_ = false;  // the close has been posted
};

MMRESULT PulseOutput::Open(const std::string& stream_name, const WAVEFORMATEX& format) {
    spec_.format = PA_SAMPLE_S16LE;
    spec_.rate = format.nSamplesPerSec;
    spec_.channels = static_cast<std::uint8_t>(format.nChannels);
    if (!pa_sample_spec_valid(&spec_)) {
        return WAVERR_BADFORMAT;
    }
    loop_ = pa_threaded_mainloop_new();
    if (!loop_) {
        return MMSYSERR_ERROR;
    }
    pa_proplist* app = pa_proplist_new();
    pa_proplist_sets(app, PA_PROP_APPLICATION_NAME, "Quorvex");
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), "Quorvex", app);
    pa_proplist_free(app);
    if (!context_) {
        return MMSYSERR_ERROR;
    }
    pa_context_set_state_callback(context_, OnContextState, this);
    // Never wait for a server to appear: without one the open fails at once.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        return OpenFailureCode(pa_context_errno(context_));
    }
    if (pa_threaded_mainloop_start(loop_) < 0) {
        return MMSYSERR_ERROR;
    }

    LoopLock lock{loop_};
    deadline_ = pa_context_rttime_new(context_, pa_rtclock_now() + kOpenTimeout, OnOpenTimeout, this);
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(context_);
        if (state == PA_CONTEXT_READY) break;
        if (!PA_CONTEXT_IS_GOOD(state)) return OpenFailureCode(pa_context_errno(context_));
        if (timed_out_) return kServerNoAnswer;
        pa_threaded_mainloop_wait(loop_);
    }

    pa_channel_map map;
    pa_channel_map_init_auto(&map, spec_.channels, PA_CHANNEL_MAP_DEFAULT);
    pa_proplist* role = pa_proplist_new();
    pa_proplist_sets(role, PA_PROP_MEDIA_ROLE, "test");
    stream_ = pa_stream_new_with_proplist(context_, stream_name.c_str(), &spec_, &map, role);
    pa_proplist_free(role);
    if (!stream_) {
        return OpenFailureCode(pa_context_errno(context_));
    }
    pa_stream_set_state_callback(stream_, OnStreamState, this);
    pa_stream_set_write_callback(stream_, OnWriteRequest, this);
    pa_stream_set_underflow_callback(stream_, OnUnderflow, this);
    pa_stream_set_overflow_callback(stream_, OnOverflow, this);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(kTargetLatency, &spec_));
    attr.prebuf = static_cast<std::uint32_t>(pa_usec_to_bytes(kPrebuffer, &spec_));
    attr.minreq = static_cast<std::uint32_t>(pa_usec_to_bytes(kRefillStep, &spec_));
    attr.fragsize = static_cast<std::uint32_t>(-1);
    if (pa_stream_connect_playback(stream_, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) < 0) {
        return OpenFailureCode(pa_context_errno(context_));
    }
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(stream_);
        if (state == PA_STREAM_READY) break;
        if (!PA_STREAM_IS_GOOD(state)) return OpenFailureCode(pa_context_errno(context_));
        if (timed_out_) return kServerNoAnswer;
        pa_threaded_mainloop_wait(loop_);
    }
    pa_threaded_mainloop_get_api(loop_)->time_free(deadline_);
    deadline_ = nullptr;
    open_ = true;
    Post(MM_WOM_OPEN);
    return MMSYSERR_NOERROR;
}

MMRESULT PulseOutput::Write(WAVEHDR* header) {
    LoopLock lock{loop_};
    if (lost_) {
        return MMSYSERR_INVALHANDLE;
    }
    MarkQueued(*header);
    queue_.push_back(Entry{header, 0, false});
    ending_ = false;
    if (ran_dry_) {
        // The stream played out everything and only now gets more: there
        // was a gap in the sound. PipeWire's server has played a whole
        // last cycle, silence after our end, so its read index stands past
        // our write index: what is written next goes where it reads now.
        ran_dry_ = false;
        seek_on_read_ = true;
        CountUnderrun();
    }
    Fill(pa_stream_writable_size(stream_));
    return MMSYSERR_NOERROR;
}

void PulseOutput::Reset() {
    LoopLock lock{loop_};
    if (lost_) {
        return;
    }
    Release(pa_stream_flush(stream_, nullptr, nullptr));
    // A drain still asked for would end with the flush; that end is no gap.
    ForgetDrain();
    ending_ = false;
    ran_dry_ = false;
    seek_on_read_ = false;
    seek_base_ = -1;
    ReturnAll();
    // The flush moves the server's write index; learn where it is before
    // writing again, so that later done notifications are timed right.
    syncing_ = true;
    Release(pa_stream_update_timing_info(stream_, OnResynced, this));
}

void PulseOutput::Close() {
    {
        LoopLock lock{loop_};
        Lose();
        Disconnect();
    }
    TearDown();
}

bool PulseOutput::Lost() {
    LoopLock lock{loop_};
    return lost_;
}

std::uint64_t PulseOutput::BytesWritten() {
    LoopLock lock{loop_};
    return static_cast<std::uint64_t>(written_);
}

std::uint64_t PulseOutput::Underruns() {
    LoopLock lock{loop_};
    return underruns_;
}

void PulseOutput::OnContextState(pa_context* context, void* self) {
    auto* out = static_cast<PulseOutput*>(self);
    if (out->open_ && !PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
        out->Lose();
    }
    pa_threaded_mainloop_signal(out->loop_, 0);
}

void PulseOutput::OnStreamState(pa_stream* stream, void* self) {
    auto* out = static_cast<PulseOutput*>(self);
    if (out->open_ && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
        out->Lose();
    }
    pa_threaded_mainloop_signal(out->loop_, 0);
}

void PulseOutput::OnWriteRequest(pa_stream*, size_t bytes, void* self) { static_cast<PulseOutput*>(self)->Fill(bytes); }

void PulseOutput::OnTimer(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
    auto* out = static_cast<PulseOutput*>(self);
    out->timer_armed_ = false;
    if (!out->update_pending_) {
        out->RequestTimingUpdate();
    }
}

void PulseOutput::OnTimingInfo(pa_stream*, int, void* self) {
    auto* out = static_cast<PulseOutput*>(self);
    out->update_pending_ = false;
    out->CheckPlayed();
}

void PulseOutput::OnResynced(pa_stream* stream, int success, void* self) {
    auto* out = static_cast<PulseOutput*>(self);
    const pa_timing_info* info = pa_stream_get_timing_info(stream);
    if (!success || !info || info->write_index_corrupt) {
        // Ask again: nothing is written until the index is known.
        Release(pa_stream_update_timing_info(stream, OnResynced, self));
        return;
    }
    if (out->seek_base_ >= 0) {
        // What was written by the seek ends where the server put it.
        const std::int64_t moved = info->write_index - out->written_;
        for (Entry& entry : out->queue_) {
            if (entry.written && entry.end > out->seek_base_) entry.end += moved;
        }
        out->seek_base_ = -1;
    } else {
        out->flushed_at_ = info->write_index;
    }
    out->written_ = info->write_index;
    out->last_read_ = -1;
    out->syncing_ = false;
    out->Fill(pa_stream_writable_size(stream));
}

void PulseOutput::OnOpenTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
    auto* out = static_cast<PulseOutput*>(self);
    out->timed_out_ = true;
    pa_threaded_mainloop_signal(out->loop_, 0);
}

// The server found the stream's buffer empty while it was playing. Expected
// when the stream has been played out (ending_), and right after a reset,
// whose flush empties the buffer on purpose; anything else is a gap.
void PulseOutput::OnUnderflow(pa_stream* stream, void* self) {
    auto* out = static_cast<PulseOutput*>(self);
    if (out->ending_) {
        out->ran_dry_ = true;
        return;
    }
    const std::int64_t at = pa_stream_get_underflow_index(stream);
    if (out->syncing_ || out->queue_.empty() || (at >= 0 && at <= out->flushed_at_)) {
        return;
    }
    out->CountUnderrun();
    out->underflow_counted_ = true;
}

// We never write more than the server asks for; should it still have to
// drop data, that is lost sound as much as a gap is.
void PulseOutput::OnOverflow(pa_stream*, void* self) { static_cast<PulseOutput*>(self)->CountUnderrun(); }

// The server has played out everything it held. While the drain was under
// way more may have been written: then the buffer ran empty with more to
// come, which is a gap; otherwise this is the end of what was queued.
void PulseOutput::OnDrained(pa_stream*, int success, void* self) {
    auto* out = static_cast<PulseOutput*>(self);
    // Answered: nothing to cancel any more.
    pa_operation_unref(out->drain_);
    out->drain_ = nullptr;
    if (!success || out->lost_) {
        return;
    }
    if (out->ending_) {
        out->ran_dry_ = true;
        if (!out->update_pending_) {
            out->RequestTimingUpdate();  // the last done notifications are due
        }
    } else if (!out->underflow_counted_) {
        // Unless the server already reported this run-dry as an underflow.
        out->CountUnderrun();
    }
}

void PulseOutput::CountUnderrun() {
    ++underruns_;
    device_underruns_.fetch_add(1, std::memory_order_relaxed);
}

void PulseOutput::ForgetDrain() {
    if (drain_) {
        pa_operation_cancel(drain_);
        pa_operation_unref(drain_);
        drain_ = nullptr;
    }
}

// With every queued header fully written and nothing after it: start a
// stream that still waits to prebuffer (or it would never start), and ask
// the server to play out what it holds. Without the drain PipeWire plays
// silence in place of a last stretch shorter than its cycle, and the last
// done notification never comes. A drain does not stop the stream: a header
// written while it is under way plays on as usual.
void PulseOutput::EndOfQueue() {
    if (!triggered_) {
        Release(pa_stream_trigger(stream_, nullptr, nullptr));
        triggered_ = true;
    }
    if (ending_) {
        return;
    }
    ending_ = true;
    // The server keeps one drain at a time: one still under way ends when
    // the buffer runs empty, which serves this end as well.
    if (!drain_) {
        drain_ = pa_stream_drain(stream_, OnDrained, this);
        underflow_counted_ = false;
    }
}

// Loop thread (or owner thread holding the lock): hands the server up to
// `bytes` of the queued headers, in order, repeating looped ones.
void PulseOutput::Fill(std::size_t bytes) {
    if (syncing_ || lost_ || !open_ || bytes == static_cast<std::size_t>(-1)) {
        return;
    }
    const std::size_t frame = pa_frame_size(&spec_);
    bytes -= bytes % frame;
    bool wrote = false;
    bool finished = false;
    while (bytes > 0 && unwritten_ < queue_.size()) {
        Entry& entry = queue_[unwritten_];
        if (passes_left_ == 0) {
            passes_left_ = PassesOf(*entry.header);
        }
        const std::size_t length = entry.header->dwBufferLength - entry.header->dwBufferLength % frame;
        const std::size_t n = std::min(bytes, length - offset_);
        const bool seek = n > 0 && seek_on_read_;
        if (n > 0) {
            if (pa_stream_write(stream_, entry.header->lpData + offset_, n, nullptr, 0,
                                seek ? PA_SEEK_RELATIVE_ON_READ : PA_SEEK_RELATIVE) < 0) {
                return;  // the stream is failing; its state callback returns the headers
            }
            if (seek) {
                seek_on_read_ = false;
                seek_base_ = written_;
            }
            offset_ += n;
            written_ += static_cast<std::int64_t>(n);
            bytes -= n;
            wrote = true;
        }
        if (offset_ == length) {
            offset_ = 0;
            // A header with nothing in it is done after one pass, however
            // often it was to loop.
            if (--passes_left_ == 0 || length == 0) {
                passes_left_ = 0;
                entry.end = written_;
                entry.written = true;
                ++unwritten_;
                finished = true;
            }
        }
        if (seek) {
            // Where that write went is learnt before anything else is
            // written; the resync writes on.
            syncing_ = true;
            Release(pa_stream_update_timing_info(stream_, OnResynced, this));
            triggered_ = false;
            return;
        }
    }
    if (wrote) {
        triggered_ = false;
    }
    if (unwritten_ == queue_.size() && !queue_.empty()) {
        EndOfQueue();
    }
    if (finished && !timer_armed_ && !update_pending_) {
        RequestTimingUpdate();
    }
}

// Posts the done notification of every fully written header whose last
// frame has been played by now, then plans the next look.
void PulseOutput::CheckPlayed() {
    if (lost_ || syncing_) {
        return;
    }
    const pa_timing_info* info = pa_stream_get_timing_info(stream_);
    if (!info || info->read_index_corrupt) {
        ArmTimer(kMaxCheck);
        return;
    }
    const pa_usec_t now = pa_rtclock_now();
    if (info->read_index != last_read_) {
        last_read_ = info->read_index;
        read_seen_at_ = now;
    }
    // While the stream stalls (it ran dry), its read index stands still but
    // the sink goes on playing what it already took.
    const pa_usec_t stalled_for = now - read_seen_at_;
    // pipewire-pulse reports no sink latency at all, yet a frame it took
    // plays only in a later cycle of the graph: count on the cycle the
    // stream asked for then.
    const pa_usec_t sink = info->sink_usec > 0 ? info->sink_usec : kSinkShare;
    pa_usec_t next = 0;
    while (!queue_.empty() && queue_.front().written) {
        const Entry& entry = queue_.front();
        if (entry.end > info->read_index) {
            next = BytesToUsec(entry.end - info->read_index) + sink;
            break;
        }
        // The server took the header's last frame this long ago; the sink
        // plays it sink_usec after taking it.
        const pa_usec_t taken_ago = std::max(BytesToUsec(info->read_index - entry.end), stalled_for);
        if (taken_ago < sink) {
            next = sink - taken_ago;
            break;
        }
        WAVEHDR* header = entry.header;
        queue_.pop_front();
        --unwritten_;
        MarkDone(*header);
        Post(MM_WOM_DONE, header);
    }
    if (next > 0) {
        ArmTimer(next);
    }
}

void PulseOutput::RequestTimingUpdate() {
    pa_operation* operation = pa_stream_update_timing_info(stream_, OnTimingInfo, this);
    if (operation) {
        update_pending_ = true;
        pa_operation_unref(operation);
    }
}

void PulseOutput::ArmTimer(pa_usec_t delay) {
    const pa_usec_t at = pa_rtclock_now() + std::clamp(delay, kMinCheck, kMaxCheck);
    if (timer_) {
        pa_context_rttime_restart(context_, timer_, at);
    } else {
        timer_ = pa_context_rttime_new(context_, at, OnTimer, this);
    }
    timer_armed_ = timer_ != nullptr;
}

void PulseOutput::ReturnAll() {
    for (const Entry& entry : queue_) {
        MarkDone(*entry.header);
        Post(MM_WOM_DONE, entry.header);
    }
    queue_.clear();
    unwritten_ = 0;
    offset_ = 0;
    passes_left_ = 0;
}

// With the lock held, on the loop thread when the server or the stream is
// gone, or on the owner thread closing the device: everything queued comes
// back and the close follows, once.
void PulseOutput::Lose() {
    if (lost_) {
        return;
    }
    ReturnAll();
    Post(MM_WOM_CLOSE);
    lost_ = true;
    if (underruns_ > 0) {
        // So that a user who heard a click can see why.
        std::fprintf(stderr, "Quorvex: the sound server ran out of sound %" PRIu64 " time%s during this playback\n",
                     underruns_, underruns_ == 1 ? "" : "s");
    }
}

void PulseOutput::Post(QEvent::Type type, WAVEHDR* header) {
    QCoreApplication::postEvent(target_, new WaveOutEvent(type, handle_, header));
}

// With the lock held: lets go of the stream, the timer and the connection.
void PulseOutput::Disconnect() {
    for (pa_time_event** event : {&timer_, &deadline_}) {
        if (*event) {
            pa_threaded_mainloop_get_api(loop_)->time_free(*event);
            *event = nullptr;
        }
    }
    ForgetDrain();
    if (stream_) {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
        pa_stream_set_overflow_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
}

void PulseOutput::TearDown() {
    if (!loop_) {
        return;
    }
    {
        LoopLock lock{loop_};
        Disconnect();
    }
    // Stopping joins the loop's thread, so it must run without the lock.
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
}

PulseWaveDevice::PulseWaveDevice(std::string stream_name) : stream_name_(std::move(stream_name)) {}

PulseWaveDevice::~PulseWaveDevice() = default;

PulseOutput* PulseWaveDevice::Find(HWAVEOUT handle) {
    const auto it = outputs_.find(handle);
    return it == outputs_.end() ? nullptr : it->second.get();
}

MMRESULT PulseWaveDevice::waveOutOpen(HWAVEOUT* handle, unsigned device, const WAVEFORMATEX& format,
                                      QObject* target) {
    *handle = 0;
    // Streams that lost their server have posted their close already; their
    // owners will not close them again.
    std::erase_if(outputs_, [](const auto& entry) { return entry.second->Lost(); });
    if (device != kDefaultWaveDevice) {
        return MMSYSERR_BADDEVICEID;
    }
    if (!WaveFormatSupported(format)) {
        return WAVERR_BADFORMAT;
    }
    auto output = std::make_unique<PulseOutput>(last_handle_ + 1, target, underruns_);
    const MMRESULT result = output->Open(stream_name_, format);
    if (result != MMSYSERR_NOERROR) {
        return result;
    }
    *handle = ++last_handle_;
    outputs_.emplace(*handle, std::move(output));
    return MMSYSERR_NOERROR;
}

MMRESULT PulseWaveDevice::waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR* header) {
    if (!Find(handle)) {
        return MMSYSERR_INVALHANDLE;
    }
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT PulseWaveDevice::waveOutWrite(HWAVEOUT handle, WAVEHDR* header) {
    PulseOutput* output = Find(handle);
    if (!output) {
        return MMSYSERR_INVALHANDLE;
    }
    if ((header->dwFlags & WHDR_PREPARED) == 0) {
        return WAVERR_UNPREPARED;
    }
    return output->Write(header);
}

MMRESULT PulseWaveDevice::waveOutReset(HWAVEOUT handle) {
    PulseOutput* output = Find(handle);
    if (!output) {
        return MMSYSERR_INVALHANDLE;
    }
    output->Reset();
    return MMSYSERR_NOERROR;
}

MMRESULT PulseWaveDevice::waveOutClose(HWAVEOUT handle) {
    PulseOutput* output = Find(handle);
    if (!output) {
        return MMSYSERR_INVALHANDLE;
    }
    output->Close();
    outputs_.erase(handle);
    return MMSYSERR_NOERROR;
}

MMRESULT PulseWaveDevice::waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR* header) {
    if (!Find(handle)) {
        return MMSYSERR_INVALHANDLE;
    }
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

// The stream still decides by itself when to play out what it holds.
MMRESULT PulseWaveDevice::waveOutEndOfStream(HWAVEOUT handle) {
    return Find(handle) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

std::uint64_t PulseWaveDevice::BytesWritten(HWAVEOUT handle) {
    PulseOutput* output = Find(handle);
    return output ? output->BytesWritten() : 0;
}

std::uint64_t PulseWaveDevice::Underruns(HWAVEOUT handle) {
    PulseOutput* output = Find(handle);
    return output ? output->Underruns() : 0;
}

}  // namespace quorvex
