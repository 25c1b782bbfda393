#pragma once
// The wave output device over the PulseAudio client library (any server that
// speaks its protocol). Each open is a playback stream on its own connection
// and threaded main loop; the loop's thread only moves bytes from the queued
// headers into the stream and posts notifications.
//
// A header is done when its last frame has been played, as the stream's
// timing information reports, not when the server has merely received it.
// When the server goes away, every queued header comes back with its done
// notification and the close follows; the handle then only accepts the calls
// that are harmless on a closed device.

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

    // Bytes of the open stream handed to the server so far; 0 for a handle
    // that is not open. Owner thread.
    std::uint64_t BytesWritten(HWAVEOUT handle);

private:
    PulseOutput* Find(HWAVEOUT handle);

    std::string stream_name_;
    HWAVEOUT last_handle_ = 0;
    std::map<HWAVEOUT, std::unique_ptr<PulseOutput>> outputs_;
};

}  // namespace quorvex
