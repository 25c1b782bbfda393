// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A wave output device without sound, for tests: its clock moves only when a
// test calls Advance, it records every sample it plays, and a test can make
// opens fail with any code. Notifications are posted exactly as the real
// device posts them. One open at a time; a second open is refused as busy.
//
// Thread note: owner thread only, Advance included.

#include <QPointer>
#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "output/wave_device.h"

namespace quorvex {

class VirtualWaveDevice : public WaveOutDevice {
public:
    MMRESULT waveOutOpen(HWAVEOUT* handle, unsigned device, const WAVEFORMATEX& format,
                         QObject* target) override;
    MMRESULT waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR* header) override;
    MMRESULT waveOutWrite(HWAVEOUT handle, WAVEHDR* header) override;
    MMRESULT waveOutReset(HWAVEOUT handle) override;
    MMRESULT waveOutClose(HWAVEOUT handle) override;
    MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR* header) override;
    MMRESULT waveOutEndOfStream(HWAVEOUT handle) override;

    // Every later open fails with `code` until this is called with 0.
    void FailOpens(MMRESULT code) { open_failure_ = code; }

    // What the real device does when it loses the sound server (or, with
    // LossCause::DeviceGone, its output): returns every queued header,
    // posts the close with that cause and forgets the handle.
    void LoseDevice(LossCause cause = LossCause::ServerGone);

    // While on, a close (or loss) still returns the queue and forgets the
    // handle at once, but its MM_WOM_CLOSE is kept back until
    // ReleaseCloses posts it, as from a server slow to confirm.
    void HoldCloses(bool hold) { hold_closes_ = hold; }
    void ReleaseCloses();
    std::size_t held_closes() const { return held_closes_.size(); }

    // Plays up to `frames` frames from the queue, posting MM_WOM_DONE for
    // each header that finishes. Returns the frames played; fewer when the
    // queue runs dry.
    std::size_t Advance(std::size_t frames);

    // Every sample played since construction, as the format lays them out.
    const std::vector<std::int16_t>& played() const { return played_; }
    // Headers queued and not yet returned, oldest first.
    const std::deque<WAVEHDR*>& queue() const { return queue_; }
    bool is_open() const { return open_handle_ != 0; }
    const WAVEFORMATEX& format() const { return format_; }
    // Names of the device calls made, in order ("open", "prepare", "write",
    // "reset", "close", "unprepare", "end"), with " (closed)" for calls on a handle
    // that is not open.
    const std::vector<std::string>& calls() const { return calls_; }

private:
    bool Accepts(HWAVEOUT handle, const char* call);
    void Post(QEvent::Type type, WAVEHDR* header = nullptr);
    struct HeldClose {
        QPointer<QObject> target;
        HWAVEOUT handle;
        LossCause cause;
    };
    void ReturnAll();
    void Shut(LossCause cause);  // returns the queue, posts the close, forgets the handle

    MMRESULT open_failure_ = MMSYSERR_NOERROR;
    HWAVEOUT open_handle_ = 0;
    HWAVEOUT last_handle_ = 0;
    WAVEFORMATEX format_{};
    QPointer<QObject> target_;
    std::deque<WAVEHDR*> queue_;
    std::size_t offset_ = 0;      // bytes of the front header already played in this pass
    std::uint32_t passes_left_ = 0;  // of the front header, this pass included
    std::vector<std::int16_t> played_;
    std::vector<std::string> calls_;
    bool ended_ = false;  // end of stream asked for since the last open or reset
    bool hold_closes_ = false;
    std::vector<HeldClose> held_closes_;
};

}  // namespace quorvex
