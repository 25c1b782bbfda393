// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The wave output device over the PulseAudio client library (any server that
// speaks its protocol). Each open is a playback stream on its own connection
// and threaded main loop; the loop's thread only moves bytes from the queued
// headers into the stream and posts notifications.
//
// A header is done when its last frame has been played, as the stream's
// timing information reports, not when the server has merely received it.
// When every queued header has been handed over and nothing follows, the
// server is asked to play out all it holds (servers that play in fixed
// cycles otherwise keep back a last stretch shorter than a cycle); a header
// written meanwhile plays on without a break.
//
// An open gives up after 1.5 s when the server accepted the connection but
// does not answer (kServerNoAnswer); no call waits on the server otherwise,
// so reset, close and the destructor return at once even then.
//
// Underruns (the server found the stream empty with more still to come, or
// had to drop data) are counted; a playback that had any says so on stderr
// when it ends.
// When the server goes away, every queued header comes back with its done
// notification and the close follows; the handle then only accepts the calls
// that are harmless on a closed device.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "output/wave_device.h"

namespace quorvex {

class PulseOutput;

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

    // The open stream's write index: bytes handed to the server so far,
    // plus any stretch the server played as silence after running dry; 0
    // for a handle that is not open. Owner thread.
    std::uint64_t BytesWritten(HWAVEOUT handle);

    // Underruns of the open stream so far; 0 for a handle that is not open.
    // Owner thread.
    std::uint64_t Underruns(HWAVEOUT handle);
    // Underruns of every stream this device has opened, closed ones
    // included. Any thread.
    std::uint64_t TotalUnderruns() const { return underruns_.load(std::memory_order_relaxed); }

private:
    PulseOutput* Find(HWAVEOUT handle);

    std::string stream_name_;
    HWAVEOUT last_handle_ = 0;
    // Before the outputs, whose loops' threads add to it until they are gone.
    std::atomic<std::uint64_t> underruns_{0};
    std::map<HWAVEOUT, std::unique_ptr<PulseOutput>> outputs_;
};

}  // namespace quorvex
