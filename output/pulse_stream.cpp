// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/pulse_stream.h"

#include <pulse/rtclock.h>

#include <QCoreApplication>
#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace quorvex {

namespace {

// What the server may hold of the stream, its own buffer and the sink's
// together: as much as a playback ever queues (two 250 ms chunks). The
// server splits it: kSinkShare in the sink, which is what still sounds
// after a reset (the flush empties the rest) and what a refill must arrive
// ahead of, the remainder in the stream's buffer, topped up in steps of
// kRefillStep where a looping header is written as the server asks. On
// PipeWire the sink's share sets the graph's cycle: 50 ms, 2048-frame
// cycles. (25 ms would leave a late refill more time, but 1024-frame cycles
// are missed by the server under a parallel build: 25 in one slow sweep
// against none.)
constexpr pa_usec_t kTargetLatency = 500 * PA_USEC_PER_MSEC;
constexpr pa_usec_t kSinkShare = 50 * PA_USEC_PER_MSEC;
constexpr pa_usec_t kRefillStep = (kTargetLatency - 2 * kSinkShare) / 2;
// A stream starts (and after running dry starts again) once it holds this
// much. Not 0: with a prebuffer both servers keep the read index where the
// stream ran dry, so a late write plays whole instead of being skipped.
constexpr pa_usec_t kPrebuffer = 10 * PA_USEC_PER_MSEC;
// Looks that need the server's figures are not asked closer than this.
constexpr pa_usec_t kMinFiguresWait = 1 * PA_USEC_PER_MSEC;
// The sample-rate converter where the sink runs at another rate: PipeWire's
// default (4) takes 20 kHz down by 21.5 dB on a 48 kHz graph, this one
// keeps it within 0.1 dB. PulseAudio lets only its own configuration choose
// (resample-method, for every stream), so it ignores the property; with its
// default converter 20 kHz comes out 8 dB down.
constexpr const char* kResampleQuality = "10";

std::atomic<void (*)(const StreamTracePoint&)> trace_to{nullptr};

void Release(pa_operation* operation) {
    if (operation) {
        pa_operation_unref(operation);
    }
}

}  // namespace

void PulseStream::SetTrace(void (*trace)(const StreamTracePoint&)) { trace_to.store(trace); }

void PulseStream::Trace(const StreamTracePoint& point) {
    if (auto* trace = trace_to.load(std::memory_order_relaxed)) {
        trace(point);
    }
}

PulseStream::PulseStream(HWAVEOUT handle, QObject* target, StreamCounters& counters, std::function<void()> on_lost)
    : handle_(handle), target_(target), counters_(counters), on_lost_(std::move(on_lost)) {}

PulseStream::~PulseStream() {
    if (connection_.running()) {
        PulseConnection::Lock lock{connection_};
        DisconnectStream();
    }
    connection_.Stop();
}

bool PulseStream::Apply(StreamEvent event) {
    const std::optional<StreamState> next = NextStreamState(state_, event);
    if (next) {
        state_ = *next;
    }
    return next.has_value();
}

MMRESULT PulseStream::Open(const std::string& name, const WAVEFORMATEX& format) {
    spec_.format = PA_SAMPLE_S16LE;
    spec_.rate = format.nSamplesPerSec;
    spec_.channels = static_cast<std::uint8_t>(format.nChannels);
    if (!pa_sample_spec_valid(&spec_)) {
        return WAVERR_BADFORMAT;
    }
    timing_ = PlayTiming(pa_bytes_per_second(&spec_), kSinkShare);
    const MMRESULT connected = connection_.Connect([this] { Lose(LossCause::ServerGone); });
    if (connected != MMSYSERR_NOERROR) {
        return connected;
    }

    PulseConnection::Lock lock{connection_};
    pa_channel_map map;
    pa_channel_map_init_auto(&map, spec_.channels, PA_CHANNEL_MAP_DEFAULT);
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "test");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "org.quorvex.Quorvex");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, "org.quorvex.Quorvex");
    pa_proplist_sets(props, "resample.quality", kResampleQuality);
    stream_ = pa_stream_new_with_proplist(connection_.context(), name.c_str(), &spec_, &map, props);
    pa_proplist_free(props);
    if (!stream_) {
        return OpenFailureCode(pa_context_errno(connection_.context()));
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
        return OpenFailureCode(pa_context_errno(connection_.context()));
    }
    const bool ready = connection_.WaitOpen([this] {
        const pa_stream_state_t state = pa_stream_get_state(stream_);
        return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
    });
    if (!ready) {
        return connection_.OpenFailure();
    }
    if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
        return OpenFailureCode(pa_context_errno(connection_.context()));
    }
    connection_.EndOpen();
    Apply(StreamEvent::Connected);
    Post(MM_WOM_OPEN);
    return MMSYSERR_NOERROR;
}

MMRESULT PulseStream::Write(WAVEHDR* header) {
    PulseConnection::Lock lock{connection_};
    const StreamState before = state_;
    if (!Apply(StreamEvent::Write)) {
        return before == StreamState::Ending || before == StreamState::Drained ? MMSYSERR_INVALPARAM
                                                                               : MMSYSERR_INVALHANDLE;
    }
    if (before == StreamState::RanDry) {
        // The stream played out everything and only now gets more: there
        // was a gap in the sound. What follows still plays in full.
        CountUnderrun();
    }
    MarkQueued(*header);
    queue_.push_back(Entry{header});
    Fill();
    Trace({StreamTracePoint::Wrote, pa_rtclock_now(), written_});
    return MMSYSERR_NOERROR;
}

MMRESULT PulseStream::Reset() {
    PulseConnection::Lock lock{connection_};
    if (!Apply(StreamEvent::Reset)) {
        return MMSYSERR_INVALHANDLE;
    }
    Release(pa_stream_flush(stream_, nullptr, nullptr));
    // A drain still under way would end with the flush; that is no end.
    ForgetDrain();
    ReturnAll();
    timing_.Flushed();
    // The flush moves the server's write index; learn where it is before
    // writing again, so that later done notifications are timed right.
    ++resyncs_pending_;
    Release(pa_stream_update_timing_info(stream_, OnResynced, this));
    return MMSYSERR_NOERROR;
}

MMRESULT PulseStream::EndOfStream() {
    PulseConnection::Lock lock{connection_};
    if (state_ == StreamState::Lost || state_ == StreamState::Closed) {
        return MMSYSERR_INVALHANDLE;
    }
    if (Apply(StreamEvent::EndOfStream)) {
        AskDrainOnceAllWritten();
    }
    return MMSYSERR_NOERROR;
}

MMRESULT PulseStream::Close() {
    MMRESULT result = MMSYSERR_NOERROR;
    {
        PulseConnection::Lock lock{connection_};
        if (state_ == StreamState::Lost) {
            result = MMSYSERR_INVALHANDLE;
        } else if (state_ != StreamState::Closed) {
            ReturnAll();
            Post(MM_WOM_CLOSE);
            ReportUnderruns();
        }
        Apply(StreamEvent::Close);
        DisconnectStream();
    }
    connection_.Stop();
    return result;
}

StreamState PulseStream::state() {
    PulseConnection::Lock lock{connection_};
    return state_;
}

std::uint64_t PulseStream::BytesWritten() {
    PulseConnection::Lock lock{connection_};
    return static_cast<std::uint64_t>(written_);
}

std::uint64_t PulseStream::Underruns() {
    PulseConnection::Lock lock{connection_};
    return underruns_;
}

void PulseStream::OnStreamState(pa_stream* stream, void* self) {
    auto* out = static_cast<PulseStream*>(self);
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
        // With the connection still up, only this stream went: the server
        // removed the output it played on.
        out->Lose(out->connection_.Good() ? LossCause::DeviceGone : LossCause::ServerGone);
    }
    out->connection_.Signal();
}

void PulseStream::OnWriteRequest(pa_stream*, size_t, void* self) { static_cast<PulseStream*>(self)->Fill(); }

// The server found the stream's buffer empty while it was playing. Right
// after the open or a reset that is the empty start; while ending it is the
// end; otherwise what comes next is late (RanDry).
void PulseStream::OnUnderflow(pa_stream* stream, void* self) {
    auto* out = static_cast<PulseStream*>(self);
    const std::int64_t at = pa_stream_get_underflow_index(stream);
    if (out->resyncs_pending_ > 0 || (at >= 0 && at <= out->flushed_at_) || (at < 0 && out->queue_.empty())) {
        return;
    }
    out->Apply(StreamEvent::Underflow);
}

// The server was sent more than it can hold; should it have to drop data,
// that is lost sound as much as a gap is.
void PulseStream::OnOverflow(pa_stream*, void* self) { static_cast<PulseStream*>(self)->CountUnderrun(); }

void PulseStream::OnDrained(pa_stream*, int success, void* self) {
    auto* out = static_cast<PulseStream*>(self);
    Release(std::exchange(out->drain_, nullptr));
    if (success && out->Apply(StreamEvent::Drained)) {
        out->AskFigures();  // the last done notifications are due
    }
}

void PulseStream::OnTimer(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
    auto* out = static_cast<PulseStream*>(self);
    if (out->timer_wants_figures_) {
        out->AskFigures();
    } else {
        out->PostPlayed();
    }
}

void PulseStream::OnFigures(pa_stream* stream, int success, void* self) {
    auto* out = static_cast<PulseStream*>(self);
    out->figures_pending_ = false;
    const pa_timing_info* info = pa_stream_get_timing_info(stream);
    if (out->resyncs_pending_ == 0 && success && info && !info->read_index_corrupt) {
        const pa_usec_t now = pa_rtclock_now();
        out->timing_.Update({now, info->read_index, info->sink_usec});
        out->Trace({StreamTracePoint::Figures, now, 0, info->read_index, info->sink_usec});
    }
    out->PostPlayed();
}

void PulseStream::OnResynced(pa_stream* stream, int success, void* self) {
    auto* out = static_cast<PulseStream*>(self);
    if (out->state_ == StreamState::Lost || out->state_ == StreamState::Closed) {
        return;
    }
    const pa_timing_info* info = pa_stream_get_timing_info(stream);
    if (!success || !info || info->write_index_corrupt || info->read_index_corrupt) {
        // Ask again: nothing is written until the index is known.
        Release(pa_stream_update_timing_info(stream, OnResynced, self));
        return;
    }
    if (--out->resyncs_pending_ > 0) {
        return;  // a later reset's answer is still to come
    }
    out->written_ = info->write_index;
    out->flushed_at_ = info->write_index;
    out->timing_.Update({pa_rtclock_now(), info->read_index, info->sink_usec});
    out->Fill();
}

void PulseStream::CountUnderrun() {
    ++underruns_;
    counters_.underruns.fetch_add(1, std::memory_order_relaxed);
}

void PulseStream::ForgetDrain() {
    if (drain_) {
        pa_operation_cancel(drain_);
        Release(std::exchange(drain_, nullptr));
    }
}

// At the end of the stream, once its last header is on the server: ask the
// server to play out all it holds. Servers that play in fixed cycles keep
// back a last stretch shorter than a cycle until then.
void PulseStream::AskDrainOnceAllWritten() {
    if (state_ != StreamState::Ending || drain_ || unwritten_ < queue_.size() || resyncs_pending_ > 0) {
        return;
    }
    drain_ = pa_stream_drain(stream_, OnDrained, this);
    if (drain_) {
        counters_.drains.fetch_add(1, std::memory_order_relaxed);
    }
}

// Loop thread (or owner thread holding the lock): hands the server the
// queued headers, in order, repeating looped ones, as far as the server
// asks; the rest follows when it asks again.
void PulseStream::Fill() {
    if ((state_ != StreamState::Playing && state_ != StreamState::RanDry && state_ != StreamState::Ending) ||
        resyncs_pending_ > 0) {
        return;
    }
    std::size_t budget = pa_stream_writable_size(stream_);
    if (budget == static_cast<std::size_t>(-1)) {
        return;  // the stream is failing; its state callback returns the headers
    }
    const std::size_t frame = pa_frame_size(&spec_);
    bool finished = false;
    while (unwritten_ < queue_.size()) {
        const WAVEHDR& header = *queue_[unwritten_].header;
        if (passes_left_ == 0) {
            passes_left_ = PassesOf(header);
        }
        const std::size_t length = header.dwBufferLength - header.dwBufferLength % frame;
        const std::size_t left = length - offset_;
        const std::size_t n = std::min(left, budget - budget % frame);
        if (n == 0 && left > 0) {
            break;  // the server has all it asked for
        }
        if (n > 0) {
            if (pa_stream_write(stream_, header.lpData + offset_, n, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
                return;  // the stream is failing; its state callback returns the headers
            }
            offset_ += n;
            written_ += static_cast<std::int64_t>(n);
            budget -= n;
        }
        if (offset_ == length) {
            offset_ = 0;
            // A header with nothing in it is done after one pass, however
            // often it was to loop.
            if (--passes_left_ == 0 || length == 0) {
                passes_left_ = 0;
                timing_.Written(written_);
                ++unwritten_;
                finished = true;
            }
        }
    }
    if (finished) {
        AskDrainOnceAllWritten();
        PostPlayed();
    }
}

// Posts the done notification of every written header played by now, then
// plans the next look.
void PulseStream::PostPlayed() {
    if (state_ == StreamState::Lost || state_ == StreamState::Closed || resyncs_pending_ > 0) {
        return;
    }
    const pa_usec_t now = pa_rtclock_now();
    for (std::size_t played = timing_.TakePlayed(now); played > 0; --played) {
        WAVEHDR* header = queue_.front().header;
        queue_.pop_front();
        --unwritten_;
        MarkDone(*header);
        Post(MM_WOM_DONE, header);
        Trace({StreamTracePoint::DonePosted, now});
    }
    if (timing_.waiting() == 0) {
        return;
    }
    const PlayTiming::Look look = timing_.NextLook(now);
    if (look.fresh_figures && look.after < kMinFiguresWait) {
        AskFigures();
    } else {
        Arm(look.after, look.fresh_figures);
    }
}

void PulseStream::AskFigures() {
    if (figures_pending_) {
        return;
    }
    pa_operation* operation = pa_stream_update_timing_info(stream_, OnFigures, this);
    figures_pending_ = operation != nullptr;
    Trace({StreamTracePoint::FiguresAsked, pa_rtclock_now()});
    Release(operation);
}

void PulseStream::Arm(pa_usec_t delay, bool fresh_figures) {
    const pa_usec_t at = pa_rtclock_now() + delay;
    timer_wants_figures_ = fresh_figures;
    if (timer_) {
        pa_context_rttime_restart(connection_.context(), timer_, at);
    } else {
        timer_ = pa_context_rttime_new(connection_.context(), at, OnTimer, this);
    }
}

void PulseStream::ReturnAll() {
    for (const Entry& entry : queue_) {
        MarkDone(*entry.header);
        Post(MM_WOM_DONE, entry.header);
    }
    queue_.clear();
    unwritten_ = 0;
    offset_ = 0;
    passes_left_ = 0;
}

// Loop thread, lock held: the server or the output went away. Everything
// queued comes back and the close follows, once; the owner's next call on
// the handle finds it gone.
void PulseStream::Lose(LossCause cause) {
    if (!Apply(StreamEvent::Lost)) {
        return;
    }
    ReturnAll();
    Post(MM_WOM_CLOSE, nullptr, cause);
    ReportUnderruns();
    on_lost_();
}

// Once per playback, as it ends (closed or lost): so that a user who heard
// a click can see why.
void PulseStream::ReportUnderruns() const {
    if (underruns_ > 0) {
        std::fprintf(stderr, "Quorvex: the sound server ran out of sound %" PRIu64 " time%s during this playback\n",
                     underruns_, underruns_ == 1 ? "" : "s");
    }
}

void PulseStream::Post(QEvent::Type type, WAVEHDR* header, LossCause cause) {
    QCoreApplication::postEvent(target_, new WaveOutEvent(type, handle_, header, cause));
}

// With the lock held: lets go of the stream and its timer; the connection
// goes with connection_.Stop().
void PulseStream::DisconnectStream() {
    if (timer_) {
        connection_.api()->time_free(timer_);
        timer_ = nullptr;
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
}

}  // namespace quorvex
