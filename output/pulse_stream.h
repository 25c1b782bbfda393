// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One playback stream on the sound server, on a connection of its own: the
// queue of headers, writing them, the reset (a flush), the end of the stream
// (a drain), underruns, and the done notifications, timed by PlayTiming from
// the server's figures.
//
// Queued headers go to the server as far as it asks, the rest from the
// loop's thread whenever it asks for more, so that a busy moment of the
// owner thread cannot starve the stream. (With whole 250 ms chunks written
// beyond what pipewire-pulse asked for, its graph missed cycles more often
// under load.) The server is asked to play out what it holds only at the
// end of the stream, which the owner announces, so that no write can ever
// follow a drain. A write after the stream ran dry plays late but whole: it
// goes where the server stopped reading.
//
// Thread note: the public calls run on the owner thread and take the loop's
// lock; the On* callbacks run on the loop's thread with the lock held.

#include <pulse/pulseaudio.h>

#include <QObject>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "output/play_timing.h"
#include "output/pulse_connection.h"
#include "output/stream_state.h"
#include "output/wave_device.h"

namespace quorvex {

// Counters a device keeps over all its streams, closed ones included; any
// thread may read them.
struct StreamCounters {
    std::atomic<std::uint64_t> underruns{0};
    std::atomic<std::uint64_t> drains{0};
};

// What a stream did and when, for measurement tools that look for where
// the time goes between the server taking a header's end and the header's
// refill reaching the server. Times are pa_rtclock_now() (the monotonic
// clock) in microseconds; indices are the stream's byte indices.
struct StreamTracePoint {
    enum Kind {
        FiguresAsked,  // a timing request went out
        Figures,       // its answer: read and sink filled in
        DonePosted,    // a done notification was posted; index: the header's end
        Wrote,         // the owner's write handed a header to the server; index: the write index after it
    } kind;
    std::uint64_t at;
    std::int64_t index = 0;
    std::int64_t read = 0;
    std::uint64_t sink = 0;
};

class PulseStream {
public:
    // Sends every trace point of every stream to `trace`, on the thread
    // where it happens, with the stream's lock held; nullptr (the program's
    // setting) turns tracing off. Set it before any stream opens.
    static void SetTrace(void (*trace)(const StreamTracePoint&));

    // Notifications go to `target` with `handle`. `on_lost` runs on the
    // loop's thread after the close notification of a loss has been posted.
    PulseStream(HWAVEOUT handle, QObject* target, StreamCounters& counters, std::function<void()> on_lost);
    // Lets go of everything without notifications; joins the loop's thread.
    ~PulseStream();
    PulseStream(const PulseStream&) = delete;
    PulseStream& operator=(const PulseStream&) = delete;

    // Connects and opens the stream named `name`; posts MM_WOM_OPEN on
    // success. The result as waveOutOpen's.
    MMRESULT Open(const std::string& name, const WAVEFORMATEX& format);
    // As waveOutWrite: MMSYSERR_INVALPARAM after the end of the stream,
    // MMSYSERR_INVALHANDLE once lost.
    MMRESULT Write(WAVEHDR* header);
    // As waveOutReset; MMSYSERR_INVALHANDLE once lost.
    MMRESULT Reset();
    // As waveOutEndOfStream; MMSYSERR_INVALHANDLE once lost.
    MMRESULT EndOfStream();
    // As waveOutClose, then stops the loop's thread; MMSYSERR_INVALHANDLE
    // (and nothing posted) when the stream had been lost.
    MMRESULT Close();

    StreamState state();
    // The stream's write index after our last write.
    std::uint64_t BytesWritten();
    std::uint64_t Underruns();

private:
    struct Entry {
        WAVEHDR* header;
    };

    static void OnStreamState(pa_stream* stream, void* self);
    static void OnWriteRequest(pa_stream* stream, size_t bytes, void* self);
    static void OnUnderflow(pa_stream* stream, void* self);
    static void OnOverflow(pa_stream* stream, void* self);
    static void OnDrained(pa_stream* stream, int success, void* self);
    static void OnTimer(pa_mainloop_api* api, pa_time_event* event, const struct timeval* tv, void* self);
    static void OnFigures(pa_stream* stream, int success, void* self);
    static void OnResynced(pa_stream* stream, int success, void* self);

    bool Apply(StreamEvent event);
    void Fill();
    void AskDrainOnceAllWritten();
    void ForgetDrain();
    void CountUnderrun();
    void ReportUnderruns() const;
    void PostPlayed();
    void AskFigures();
    void Arm(pa_usec_t delay, bool fresh_figures);
    void ReturnAll();
    void Lose(LossCause cause);
    void Post(QEvent::Type type, WAVEHDR* header = nullptr, LossCause cause = LossCause::None);
    void DisconnectStream();
    void Trace(const StreamTracePoint& point);

    const HWAVEOUT handle_;
    QObject* const target_;
    StreamCounters& counters_;
    std::function<void()> on_lost_;
    PulseConnection connection_;
    pa_stream* stream_ = nullptr;
    pa_sample_spec spec_{};

    // Guarded by the loop's lock.
    StreamState state_ = StreamState::Connecting;
    PlayTiming timing_{1, 1};            // set up by Open
    std::deque<Entry> queue_;            // queued and not yet returned, oldest first
    std::size_t unwritten_ = 0;          // index of the first entry not yet fully written
    std::size_t offset_ = 0;             // bytes of that entry written in this pass
    std::uint32_t passes_left_ = 0;      // of that entry, this pass included; 0: not started
    std::int64_t written_ = 0;           // stream write index after our last write
    std::int64_t flushed_at_ = 0;        // write index after the open or the last reset
    std::uint64_t underruns_ = 0;        // of this stream
    // Not states, but requests under way and the look planned:
    int resyncs_pending_ = 0;            // timing requests after a flush; nothing is written until the last answers
    bool figures_pending_ = false;       // a timing request for PlayTiming is under way
    pa_operation* drain_ = nullptr;      // the drain asked for, until answered or cancelled
    pa_time_event* timer_ = nullptr;     // the next look (restarted for each)
    bool timer_wants_figures_ = false;   // the armed look asks the server, not only the clock
};

}  // namespace quorvex
