// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The wave output device over the PulseAudio client library (any server that
// speaks its protocol): the table of open handles. Each open is a playback
// stream (PulseStream) on its own connection and threaded main loop; the
// loop's thread only moves bytes from the queued headers into the stream and
// posts notifications.
//
// A header is done when its last frame has been played, as the stream's
// timing information reports, not when the server has merely received it.
// At the end of the stream (waveOutEndOfStream) the server is asked to play
// out all it holds, once; until then a stream that runs dry waits for more,
// and what comes later plays whole.
//
// An open gives up after 1.5 s when the server accepted the connection but
// does not answer (kServerNoAnswer); no call waits on the server otherwise,
// so reset, close and the destructor return at once even then.
//
// Underruns (the stream ran dry before its end and got more later, or the
// server had to drop data) are counted; a playback that had any says so on
// stderr when it is lost.
// When the server or the output goes away, every queued header comes back
// with its done notification and the close follows, carrying the cause; the
// handle is forgotten then (its loop's thread ended once the close has been
// handed out), so every later call on it returns MMSYSERR_INVALHANDLE.

#include <QObject>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "output/wave_device.h"

namespace quorvex {

class PulseStream;
struct StreamCounters;

class PulseWaveDevice : public WaveOutDevice {
public:
    // Streams opened here carry `stream_name` for the server's mixer.
    explicit PulseWaveDevice(std::string stream_name = "Tone");
    // Closes whatever is still open, without notifications.
    ~PulseWaveDevice() override;
    PulseWaveDevice(const PulseWaveDevice&) = delete;
    PulseWaveDevice& operator=(const PulseWaveDevice&) = delete;

    MMRESULT waveOutOpen(HWAVEOUT* handle, unsigned device, const WAVEFORMATEX& format,
                         QObject* target) override;
    MMRESULT waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR* header) override;
    MMRESULT waveOutWrite(HWAVEOUT handle, WAVEHDR* header) override;
    MMRESULT waveOutReset(HWAVEOUT handle) override;
    MMRESULT waveOutClose(HWAVEOUT handle) override;
    MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR* header) override;
    MMRESULT waveOutEndOfStream(HWAVEOUT handle) override;

    // The open stream's write index: bytes handed to the server so far; 0
    // for a handle that is not open. Owner thread.
    std::uint64_t BytesWritten(HWAVEOUT handle);

    // Underruns of the open stream so far; 0 for a handle that is not open.
    // Owner thread.
    std::uint64_t Underruns(HWAVEOUT handle);
    // Underruns of every stream this device has opened, closed ones
    // included. Any thread.
    std::uint64_t TotalUnderruns() const;
    // How often a stream of this device asked the server to play out what
    // it holds (once per ended stream). Any thread.
    std::uint64_t TotalDrains() const;

private:
    // Ends the streams that were lost, joining their loops' threads. Owner
    // thread.
    void ForgetLost();
    PulseStream* Find(HWAVEOUT handle);

    // Receives, on the owner thread, the word that a stream was lost (after
    // its close notification, which was posted first).
    class Reaper : public QObject {
    public:
        explicit Reaper(PulseWaveDevice& device) : device_(device) {}
        void customEvent(QEvent*) override { device_.ForgetLost(); }

    private:
        PulseWaveDevice& device_;
    };

    std::string stream_name_;
    HWAVEOUT last_handle_ = 0;
    // Before the streams, whose loops' threads use them until they are gone.
    std::unique_ptr<StreamCounters> counters_;
    Reaper reaper_{*this};
    std::map<HWAVEOUT, std::unique_ptr<PulseStream>> streams_;
};

}  // namespace quorvex
