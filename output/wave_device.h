// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The wave output device: open a stream in a format, queue headers on it,
// reset, close. Its progress comes back as notification events posted to the
// QObject named at the open:
//   MM_WOM_OPEN  once after a successful open;
//   MM_WOM_DONE  once per header written, when its frames have been played
//                or when a reset returned it (WaveOutEvent::header());
//   MM_WOM_CLOSE once after the close, or once when the device closed by
//                itself (WaveOutEvent::cause() says why).
// They are posted in the order raised and never delivered inside the call
// that raised them. A header flagged WHDR_BEGINLOOP | WHDR_ENDLOOP is played
// dwLoops times before it is done. Reset, close and unprepare on a handle
// that is closed (or 0) are harmless and return MMSYSERR_INVALHANDLE.
//
// Device calls are made on one thread, the one that owns the notification
// target; notifications may be posted from the device's own thread.

#include <QEvent>
#include <QObject>
#include <cstdint>

#include "engine/wave_format.h"

namespace quorvex {

using MMRESULT = std::uint32_t;
using HWAVEOUT = std::intptr_t;  // 0: no device

inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = 1;
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
inline constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_NODRIVER = 6;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
inline constexpr MMRESULT WAVERR_BADFORMAT = 32;
inline constexpr MMRESULT WAVERR_UNPREPARED = 34;
// Not a published code: the sound server accepted the connection but did not
// answer within the open's time limit. Outside the 16-bit range of the error
// texts, so callers name it themselves.
inline constexpr MMRESULT kServerNoAnswer = 0x10000 | MMSYSERR_ERROR;

// The first (default) output device.
inline constexpr unsigned kDefaultWaveDevice = 0;

inline constexpr QEvent::Type MM_WOM_OPEN = static_cast<QEvent::Type>(QEvent::User + 0x3BB);
inline constexpr QEvent::Type MM_WOM_CLOSE = static_cast<QEvent::Type>(QEvent::User + 0x3BC);
inline constexpr QEvent::Type MM_WOM_DONE = static_cast<QEvent::Type>(QEvent::User + 0x3BD);

// Why a device closed without being asked to: carried by its MM_WOM_CLOSE.
enum class LossCause : std::uint8_t {
    None,        // closed by waveOutClose
    ServerGone,  // the sound server closed the connection or stopped serving it
    DeviceGone,  // the server runs on, but the output the stream played on went away
};

// One notification. header() is the returned header for MM_WOM_DONE, null
// for the others; cause() is LossCause::None except on the MM_WOM_CLOSE of
// a device that closed by itself.
class WaveOutEvent : public QEvent {
public:
    WaveOutEvent(Type type, HWAVEOUT handle, WAVEHDR* header = nullptr, LossCause cause = LossCause::None)
        : QEvent(type), handle_(handle), header_(header), cause_(cause) {}
    HWAVEOUT handle() const { return handle_; }
    WAVEHDR* header() const { return header_; }
    LossCause cause() const { return cause_; }

private:
    HWAVEOUT handle_;
    WAVEHDR* header_;
    LossCause cause_;
};

// Formats both devices play: PCM, 16-bit, one or two channels, 8000 to
// 192000 frames per second, with block align and byte rate that agree.
bool WaveFormatSupported(const WAVEFORMATEX& format);

// Times a header is played before it is done: dwLoops (at least 1) when it
// carries both loop flags, else once.
constexpr std::uint32_t PassesOf(const WAVEHDR& header) {
    constexpr std::uint32_t kLoop = WHDR_BEGINLOOP | WHDR_ENDLOOP;
    return (header.dwFlags & kLoop) == kLoop && header.dwLoops > 1 ? header.dwLoops : 1;
}

// Header flags as a device takes a header into its queue and as it gives it
// back with MM_WOM_DONE.
constexpr void MarkQueued(WAVEHDR& header) { header.dwFlags = (header.dwFlags & ~WHDR_DONE) | WHDR_INQUEUE; }
constexpr void MarkDone(WAVEHDR& header) { header.dwFlags = (header.dwFlags & ~WHDR_INQUEUE) | WHDR_DONE; }

class WaveOutDevice {
public:
    virtual ~WaveOutDevice() = default;

    // Opens output device `device` (kDefaultWaveDevice) in `format` and sets
    // *handle. On success MM_WOM_OPEN is posted to target. Otherwise *handle
    // is 0 and the result is a multimedia code: WAVERR_BADFORMAT for a format
    // the device refuses, MMSYSERR_NODRIVER when there is no device at all,
    // MMSYSERR_ALLOCATED when it is busy, MMSYSERR_BADDEVICEID for another
    // device number, kServerNoAnswer when a server took the connection but
    // did not answer within the time limit (under 2 s; nothing stays open),
    // MMSYSERR_ERROR for anything else. Never waits for a device to appear. Notifications may be posted to target until
    // waveOutClose returns, so target must live that long. Owner thread.
    virtual MMRESULT waveOutOpen(HWAVEOUT* handle, unsigned device, const WAVEFORMATEX& format,
                                 QObject* target) = 0;

    // Marks the header prepared; must precede its first write. Owner thread.
    virtual MMRESULT waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR* header) = 0;

    // Queues the header behind those already queued. The device reads
    // lpData until MM_WOM_DONE for it has been posted. Owner thread.
    virtual MMRESULT waveOutWrite(HWAVEOUT handle, WAVEHDR* header) = 0;

    // Stops at once and returns every queued header, each with its own
    // MM_WOM_DONE, in queue order. Owner thread.
    virtual MMRESULT waveOutReset(HWAVEOUT handle) = 0;

    // Closes the device (returning any header still queued, as a reset does)
    // and posts MM_WOM_CLOSE. The handle is invalid afterwards. Owner thread.
    virtual MMRESULT waveOutClose(HWAVEOUT handle) = 0;

    // Clears the prepared mark. Owner thread.
    virtual MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR* header) = 0;

    // Nothing more will be written on this stream: play what is queued to
    // its end, so that the last header's MM_WOM_DONE comes once its last
    // frame has been played. A write after it is refused with
    // MMSYSERR_INVALPARAM; a reset cancels it. Owner thread.
    virtual MMRESULT waveOutEndOfStream(HWAVEOUT handle) = 0;
};

}  // namespace quorvex
