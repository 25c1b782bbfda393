// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The tone generator's state and its synthesis: sine tables, the
// phase-accumulator oscillator, fast sweeps and the chunk-by-chunk production
// of streamed output, and the start protocol that hands the first buffers
// over. No toolkit and no device here: the engine reaches the window through
// ControlPanel and hands its buffers to a WaveOutSink.
//
// Thread note: everything in this header runs on the user-interface thread.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/wave_format.h"

namespace quorvex {

using extended = long double;  // 80-bit on x86-64: frequencies, ratios, amplitudes

using audio_sample = std::int16_t;  // -32767..32767, -32768 never produced

inline constexpr int kSampleRate = 44100;
inline constexpr int kSineTableLength = 32768;
inline constexpr int kBufferSamples = 114660;  // 57330 stereo frames, 1.3 s
inline constexpr int kBufferFrames = kBufferSamples / 2;
inline constexpr int kPhaseMask = 0x3FFFFFFF;  // 30-bit phase

using TSineTable = std::array<audio_sample, kSineTableLength>;
using PSineTable = TSineTable*;
using TBuffer = std::array<audio_sample, kBufferSamples>;
using PBuffer = TBuffer*;

enum class speeds { fast_stepped, fast_smooth, slow, manual, no_sweep };
enum class modes { logarithmic, linear };
enum class ranges { lf, mf, hf, wide };
enum class out_levels { phase_normal, phase_reverse, independent };
enum class directions { up, down, holding };

// Looping kinds are rendered once into buffer 1 and repeated by the device;
// the others are streamed in chunks through both buffers.
constexpr bool IsLooping(speeds s) { return s == speeds::fast_smooth || s == speeds::fast_stepped; }

// Where the engine hands its filled headers: the open wave device during
// playback, the output file in quorvex-render.
//
// Not held by GeneratorState but passed to each call that queues: Playback,
// the device's sink, is built on the state, so the state cannot be built on
// Playback.
class WaveOutSink {
public:
    // Readies a header before its first hand-over; the result is not examined.
    virtual void waveOutPrepareHeader(WAVEHDR& header) = 0;
    // Queues a filled header behind those already queued; the result is not
    // examined. A header with WHDR_BEGINLOOP and WHDR_ENDLOOP is played
    // dwLoops times.
    virtual void waveOutWrite(WAVEHDR& header) = 0;

protected:
    ~WaveOutSink() = default;
};

// A frequency for each channel, in Hz.
struct ChannelFrequencies {
    extended left;
    extended right;
};

// What the engine needs of the control panel: the marker label, the manual
// frequencies and the attenuation bar.
class ControlPanel {
public:
    // Text of the marker label, e.g. "Last at:\r23 Hz" (a lone carriage return
    // breaks the line).
    virtual void SetLastMarkerText(const std::string& text) = 0;
    // The manual frequencies of the left and right channel as the panel sets
    // them now, read with the state's f_min, f_max and log_lin. The panel may
    // bring its own display up to date while answering.
    virtual ChannelFrequencies ManualFrequencies() = 0;
    // Position of the attenuation bar tbLowPower, 1..30.
    virtual int LowPowerPosition() const = 0;

protected:
    ~ControlPanel() = default;
};

// --- Pure functions --------------------------------------------------------

// 1.0 for position 0, else 10^(-position / low_power_position) in extended.
extended LevelToAmplitude(int position, int low_power_position);

// Fills all 32768 entries: one sine period scaled by amplitude (may be
// negative), first quarter computed, the rest mirrored. Ties round to even.
void BuildSineTable(TSineTable& table, extended amplitude);

// Phase increment per frame for a frequency: Round(f * 2^30 / 44100) taken as
// a 32-bit two's-complement integer. A non-finite f gives 0.
std::int32_t PhaseIncrement(extended f);

// Half-octave band of f: Trunc(log10(f) / 0.150514997832). f must be > 0;
// outside that (0, negative, NaN) the result is INT_MIN, for +infinity INT_MAX.
int HalfOctaveIndex(extended f);

// Limits the engine can prepare output for: both above zero.
constexpr bool LimitsUsable(std::int32_t f_min, std::int32_t f_max) { return f_min > 0 && f_max > 0; }

// Whole signed 32-bit integer as the limit edits are read: leading blanks,
// one optional sign, decimal digits, or hex digits after "$", "x" or "0x"
// (either case). Anything else, an empty text or an overflow gives nullopt.
std::optional<std::int32_t> ParseInteger(std::string_view text);

// f rounded to a whole number (halves away from zero) followed by " Hz".
std::string FormatHz(extended f);

// Frequency of a manual bar at position p of min..max between the limits:
// p = max gives f_min, p = min gives f_max. Linear or logarithmic steps.
// Limits a logarithm cannot take (!LimitsUsable) are mapped linearly, and a
// bar with max == min gives f_min, so the result is never NaN.
extended BarFrequency(std::int32_t f_min, std::int32_t f_max, modes mode, int max, int min, int p);

// --- The generator state ---------------------------------------------------

// Owned by the main window for its whole life; never copied or moved, since
// the device reads the buffers and headers in place. The panel is usually the
// state's owner, built before it: the constructor only keeps the reference.
class GeneratorState {
public:
    explicit GeneratorState(ControlPanel& panel);
    GeneratorState(const GeneratorState&) = delete;
    GeneratorState& operator=(const GeneratorState&) = delete;

    // Both buffers and both tables were obtained; output needs them.
    bool HasMemory() const { return p_buffer1 && p_buffer2 && left_sine_table && right_sine_table; }

    // LevelToAmplitude with the current position of tbLowPower.
    extended LevelToAmplitude(int position) const;

    void EnsureLeftTable();
    void EnsureRightTable();

    // Writes count frames of one channel of buffer, starting at sample index
    // start (the right table writes the odd slots), advancing phase. Frames
    // that would fall past the buffer's end are not written.
    void RenderTone(PSineTable table, PBuffer buffer, int count, int start, int& phase, extended f);

    // Renders one looping pass of `steps` steps (at least 2, else nothing is
    // written and 0 returned); returns the frames written.
    int RenderFastSweep(PBuffer buffer, int steps);

    // Points header 1 at buffer 1 and header 2 at buffer 2, each with length
    // 0, no flags and one loop, as every start begins.
    void ResetHeaders();

    // Once per start, after the device opened: ensures the tables and renders
    // the looping pass (returns its frames) or plans streamed output
    // (returns 0). Returns kCannotPrepare, changing nothing, when the limits
    // are not LimitsUsable or the memory is missing (also for a streamed
    // chunk that would not fit a buffer, or a missing header).
    static constexpr int kCannotPrepare = -1;
    int PrepareSweep();

    // Fills the header's buffer with the next chunk, hands it to `sink` and
    // advances the plan. Inert once shutoff or all_written() is set, and for a
    // header without data.
    void QueueChunk(WAVEHDR& header, WaveOutSink& sink);

    // The last chunk of a slow sweep has been handed over (or the sweep has
    // no plan to take one from): QueueChunk hands over nothing more. Follows
    // from the counters, so a start's zeroing clears it.
    bool all_written() const {
        return speed == speeds::slow && (buffers_written >= slow_sweep_chunks || !chunk_freq);
    }

    // What a streamed header coming back from the device meant.
    enum class HeaderReturn {
        Refilled,     // it went back to the sink with the next chunk
        NotRefilled,  // nothing more to hand over; earlier chunks still play
        AllPlayed,    // every chunk handed over has come back: the output is over
    };
    // The refill protocol of the streamed kinds, for each header the device
    // returns after QueueFirstBuffers: counts it in buffers_played; while
    // chunks handed over are still playing (buffers_played below
    // buffers_written) refills this very header with QueueChunk, a marker
    // chunk where a slow sweep enters a new half-octave band; once every
    // chunk has come back, reports the end. The device's done notifications
    // and the render tool both go through here.
    HeaderReturn HeaderDone(WAVEHDR& header, WaveOutSink& sink);

    // The start of an output, once the device has opened; the device and
    // the render tool both start this way, so the file holds what the device
    // is handed. Ensures the tables, ResetHeaders, PrepareSweep, then:
    // looping kinds prepare both headers and queue header 1 with both loop
    // flags, 0xFFFFFFFF loops and 4 bytes per rendered frame; streamed kinds
    // zero buffers_played and buffers_written (which clears all_written()),
    // and prepare and queue header 1 with the first chunk, then header 2 with
    // the second. Each header that comes back goes to HeaderDone.
    // False, with nothing handed to the sink, when PrepareSweep refuses.
    bool QueueFirstBuffers(WaveOutSink& sink);

    // --- Fields (the window and playback read and write them directly) ---
    bool WhiteRunning = false;
    double FChirpCum = 0.0;
    std::int32_t left_angle = 0;
    std::int32_t right_angle = 0;
    PSineTable left_sine_table = nullptr;
    PSineTable right_sine_table = nullptr;
    bool left_sine_table_valid = false;
    bool right_sine_table_valid = false;
    WAVEHDR* p_wave_hdr1 = nullptr;
    WAVEHDR* p_wave_hdr2 = nullptr;
    PBuffer p_buffer1 = nullptr;
    PBuffer p_buffer2 = nullptr;
    std::int32_t buffer_bytes = 0;  // counts samples, not bytes
    std::int32_t f_min = 20;
    std::int32_t f_max = 20000;
    std::int32_t buffers_written = 0;
    std::int32_t buffers_played = 0;
    extended fl = 0;
    extended fr = 0;
    extended f_ratio = 0;
    extended f_step = 0;
    extended last_f = 0;
    extended f_inv_ratio = 0;
    directions direction = directions::holding;
    std::int32_t current_octave = 0;
    std::int32_t next_octave = 0;
    bool do_markers = false;
    WAVEFORMATEX pcm{};
    // The playback's flags: they follow its state and are written with it,
    // in one place (Playback::Enter). Until the first playback they hold
    // their creation values.
    std::intptr_t hWave_out = 0;  // the open device; 0 when none
    bool sweep_running = false;   // a playback is open and not yet stopped or ended
    bool shutoff = false;         // no further chunk: the playback is ending or over
    bool closed = false;          // the last playback's device has been closed
    modes log_lin = modes::logarithmic;
    speeds speed = speeds::fast_smooth;
    ranges range = ranges::wide;
    out_levels out_level = out_levels::phase_normal;
    bool locked_frequencies = true;
    std::unique_ptr<extended[]> chunk_freq;  // slow sweep only
    std::int32_t slow_sweep_time = 0;
    std::int32_t slow_sweep_chunks = 0;
    std::int32_t chunk_ms = 0;
    extended left_amplitude = 0;
    extended right_amplitude = 0;
    extended present_left_amplitude = -1.0L;
    extended present_right_amplitude = -1.0L;

private:
    // f_step and f_ratio for `steps` (at least 2) steps from f_min to f_max.
    void PlanSteps(int steps);
    // The frequency one step above f: plus f_step, or times f_ratio.
    extended StepUp(extended f) const;

    ControlPanel& panel_;
    WAVEHDR header1_{};
    WAVEHDR header2_{};
    std::unique_ptr<TBuffer> buffer1_;
    std::unique_ptr<TBuffer> buffer2_;
    std::unique_ptr<TSineTable> left_table_;
    std::unique_ptr<TSineTable> right_table_;
};

}  // namespace quorvex
