// SPDX-License-Identifier: GPL-3.0-or-later
// quorvex-render: writes to a WAV file exactly the samples that the wave
// device would be handed for one output, produced by the engine's own code.
//
// Exit status: 0 written (or help shown); 2 bad options or limits the engine
// cannot use (nothing written); 1 the output could not be written.

#include <getopt.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "engine/generator.h"
#include "engine/ranges.h"
#include "engine/wav_render.h"
#include "tools/render/wav_file.h"

namespace quorvex {
namespace {

constexpr const char* kUsage =
    "Usage: quorvex-render -o FILE [OPTION]...\n"
    "Writes the tone generator's output, the samples the sound device would play,\n"
    "as a 16-bit stereo 44100 Hz WAV file.\n"
    "\n"
    "Options:\n"
    "Mandatory arguments to long options are mandatory for short options too.\n"
    "  -o, --output=FILE       where to write; - is standard output. A link is\n"
    "                          followed, a FIFO or device is written as a stream,\n"
    "                          an existing file is replaced when complete\n"
    "      --speed=KIND        fast-smooth (default) or fast-stepped: one sweep of\n"
    "                          about 1.3 s, repeated --passes times; slow: a 45 s\n"
    "                          sweep in 250 ms chunks; manual: steady tones at the\n"
    "                          --left-bar and --right-bar frequencies; no-sweep:\n"
    "                          a steady tone at the lower limit\n"
    "      --mode=MODE         log (default) or linear sweep\n"
    "      --range=RANGE       wide (default, 20..20000 Hz), hf (1000..15000 Hz),\n"
    "                          speech (300..3000 Hz) or lf (50..1000 Hz)\n"
    "      --from=HZ           lower limit in Hz instead of the range's, a whole\n"
    "                          number above 0 (decimal, or hexadecimal after $ or\n"
    "                          0x), up to 2147483647\n"
    "      --to=HZ             upper limit in Hz instead of the range's, the same\n"
    "      --left-level=P      left level, P steps below full scale: 0..26\n"
    "                          (default 12, that is -12 dB with the default step)\n"
    "      --right-level=P     right level, the same (default 12)\n"
    "      --step=D            size of a level step: 20/D dB, D 1..30 (default 20,\n"
    "                          1 dB); a larger D gives smaller steps, so level P\n"
    "                          plays at -20*P/D dB\n"
    "      --channels=HOW      in-phase (default), 180 (right channel inverted)\n"
    "                          or independent (in the window it unlinks the level\n"
    "                          bars; here the levels are apart in every case)\n"
    "      --left-off          silence the left channel\n"
    "      --right-off         silence the right channel\n"
    "      --markers           a slow sweep falls silent for 250 ms where it\n"
    "                          crosses a half-octave\n"
    "      --left-bar=P        manual left frequency bar 1..180: 1 is the upper\n"
    "                          limit, 180 the lower (default 180)\n"
    "      --right-bar=P       manual right frequency bar 1..180 (default 180)\n"
    "      --passes=N          fast kinds: passes of the 1.3 s sweep, 1..%d\n"
    "                          (default 1)\n"
    "      --chunks=N          other kinds: 250 ms chunks to write, 1..%d\n"
    "                          (default 40, 10 s; a slow sweep ends by itself\n"
    "                          after 180)\n"
    "      --seconds=S         instead of --passes or --chunks: as many whole\n"
    "                          passes or chunks as cover S seconds, 1..%d (a\n"
    "                          slow sweep still ends by itself after 45 s)\n"
    "  -h, --help              show this help and exit\n"
    "  -v, -V, --version       show the version and exit\n"
    "\n"
    "Exit status: 0 written (or help shown), 1 the output could not be written,\n"
    "2 bad options or values (nothing written).\n"
    "\n"
    "Examples:\n"
    "  quorvex-render -o - --speed=slow | paplay\n";

// WAV data sizes are 32-bit; a pass is at most one buffer, a chunk 250 ms.
constexpr int kMaxPasses = static_cast<int>(kMaxWavDataBytes / sizeof(TBuffer));
constexpr int kMaxChunks = static_cast<int>(kMaxWavDataBytes / (kSampleRate / 4 * 4));  // 11025 frames of 4 bytes
// A time is rounded up to whole passes or chunks: at most one buffer more.
constexpr int kMaxSeconds = 24000;
static_assert(std::uint64_t{kMaxSeconds} * kSampleRate * 4 + sizeof(TBuffer) <= kMaxWavDataBytes);

struct Settings {
    std::string out;
    OutputSettings output;
    std::optional<std::int32_t> from;  // Hz, instead of the range's limits
    std::optional<std::int32_t> to;
    OutputLength length;
    bool help = false;     // --help: the usage only
    bool version = false;  // --version: the version only
};

struct UsageError {
    std::string message;
};

// A value or argument as messages quote it: one too long to read is cut,
// at a character's start, and ends in an ellipsis.
std::string Quoted(std::string_view text) {
    constexpr std::size_t kShown = 60;
    std::string shown(text);
    if (text.size() > kShown + 3) {
        std::size_t cut = kShown;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
        shown.assign(text.substr(0, cut)).append("...");
    }
    return "'" + shown + "'";
}

std::string InvalidValue(std::string_view option, std::string_view value) {
    // Appended piece by piece: GCC 12 at -O3 mistakes chained std::string
    // concatenation for an overlapping copy (-Wrestrict).
    std::string message = "invalid value ";
    message.append(Quoted(value)).append(" for ").append(option);
    return message;
}

template <typename T>
T Choose(std::string_view option, std::string_view value, std::initializer_list<std::pair<std::string_view, T>> choices) {
    for (const auto& [name, v] : choices)
        if (name == value) return v;
    std::string message = InvalidValue(option, value);
    message.append(" (one of:");
    for (const auto& choice : choices) message.append(" ").append(choice.first);
    message.append(")");
    throw UsageError{message};
}

int WholeNumber(std::string_view option, std::string_view value, int low, int high) {
    const std::optional<std::int32_t> n = ParseInteger(value);
    if (!n || *n < low || *n > high)
        throw UsageError{InvalidValue(option, value) + " (a whole number " + std::to_string(low) + ".." +
                         std::to_string(high) + ")"};
    return *n;
}

// A frequency limit, read as the window's limit fields read it. Where the
// window falls back to its default limits for a text that is not a whole
// number, a command line says so instead of rendering something else.
std::int32_t Limit(std::string_view option, std::string_view value) {
    const std::optional<std::int32_t> n = ParseInteger(value);
    if (!n) throw UsageError{InvalidValue(option, value) + " (a whole number of Hz)"};
    return *n;
}

// Values of the long options that have no short form.
enum LongOnly : int {
    kSpeed = 256, kMode, kRange, kFrom, kTo, kLeftLevel, kRightLevel, kStep, kChannels,
    kLeftOff, kRightOff, kMarkers, kLeftBar, kRightBar, kPasses, kChunks, kSeconds,
};

constexpr option kLongOptions[] = {
    {"output", required_argument, nullptr, 'o'},
    {"speed", required_argument, nullptr, kSpeed},
    {"mode", required_argument, nullptr, kMode},
    {"range", required_argument, nullptr, kRange},
    {"from", required_argument, nullptr, kFrom},
    {"to", required_argument, nullptr, kTo},
    {"left-level", required_argument, nullptr, kLeftLevel},
    {"right-level", required_argument, nullptr, kRightLevel},
    {"step", required_argument, nullptr, kStep},
    {"channels", required_argument, nullptr, kChannels},
    {"left-off", no_argument, nullptr, kLeftOff},
    {"right-off", no_argument, nullptr, kRightOff},
    {"markers", no_argument, nullptr, kMarkers},
    {"left-bar", required_argument, nullptr, kLeftBar},
    {"right-bar", required_argument, nullptr, kRightBar},
    {"passes", required_argument, nullptr, kPasses},
    {"chunks", required_argument, nullptr, kChunks},
    {"seconds", required_argument, nullptr, kSeconds},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'v'},
    {nullptr, 0, nullptr, 0},
};
// Leading ':' : a missing value is told apart from an unknown option.
constexpr const char* kShortOptions = ":o:hvV";

// The option that `argument` (its text as given) names, for messages: the
// long name of a long option, however abbreviated; "-o" for a short one.
std::string OptionName(std::string_view argument, int value) {
    if (argument.starts_with("--"))
        for (const option& o : kLongOptions)
            if (o.name && o.val == value) return std::string("--") + o.name;
    return std::string("-") + static_cast<char>(value);
}

// What getopt_long refused in `argument` (its text as given, empty for a
// short option), said plainly.
std::string Refusal(std::string_view argument, int optopt_value) {
    if (!argument.starts_with("--")) return "unknown option '-" + std::string(1, static_cast<char>(optopt_value)) + "'";
    const std::string_view name = argument.substr(2, argument.find('=') - 2);
    const option* found = nullptr;
    std::string matches;  // every option the name abbreviates
    int count = 0;
    for (const option& o : kLongOptions) {
        if (!o.name || !std::string_view(o.name).starts_with(name)) continue;
        if (std::string_view(o.name) == name) {
            found = &o;
            count = 1;
            break;
        }
        found = &o;
        matches.append(count++ ? ", --" : "--").append(o.name);
    }
    if (count > 1) return "ambiguous option " + Quoted(argument) + " (" + matches + ")";
    // A known option refused: it was given a value it does not take.
    if (found) return std::string("option --") + found->name + " takes no value";
    return "unknown option " + Quoted(argument.substr(0, argument.find('=')));
}

Settings ParseArguments(int argc, char** argv) {
    Settings s;
    opterr = 0;  // the messages are ours
    for (;;) {
        const int previous = optind;
        const int c = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr);
        if (c == -1) break;
        const std::string_view value = optarg ? optarg : "";
        switch (c) {
        case 'h':
            s.help = true;
            return s;
        case 'v':
        case 'V':
            s.version = true;
            return s;
        case 'o': s.out = value; break;
        case kSpeed:
            s.output.speed = Choose<speeds>("--speed", value, {{"fast-smooth", speeds::fast_smooth}, {"fast-stepped", speeds::fast_stepped},
                                                               {"slow", speeds::slow}, {"manual", speeds::manual},
                                                               {"no-sweep", speeds::no_sweep}});
            break;
        case kMode: s.output.mode = Choose<modes>("--mode", value, {{"log", modes::logarithmic}, {"linear", modes::linear}}); break;
        case kRange:
            s.output.range = Choose<ranges>("--range", value,
                                            {{"wide", ranges::wide}, {"hf", ranges::hf}, {"speech", ranges::mf}, {"lf", ranges::lf}});
            break;
        case kFrom: s.from = Limit("--from", value); break;
        case kTo: s.to = Limit("--to", value); break;
        case kLeftLevel: s.output.left_level = WholeNumber("--left-level", value, 0, 26); break;
        case kRightLevel: s.output.right_level = WholeNumber("--right-level", value, 0, 26); break;
        case kStep: s.output.step = WholeNumber("--step", value, 1, 30); break;
        case kChannels:
            s.output.channels = Choose<out_levels>("--channels", value, {{"in-phase", out_levels::phase_normal}, {"180", out_levels::phase_reverse},
                                                                         {"independent", out_levels::independent}});
            break;
        case kLeftOff: s.output.left_off = true; break;
        case kRightOff: s.output.right_off = true; break;
        case kMarkers: s.output.markers = true; break;
        case kLeftBar: s.output.left_bar = WholeNumber("--left-bar", value, 1, 180); break;
        case kRightBar: s.output.right_bar = WholeNumber("--right-bar", value, 1, 180); break;
        case kPasses: s.length.passes = WholeNumber("--passes", value, 1, kMaxPasses); break;
        case kChunks: s.length.chunks = WholeNumber("--chunks", value, 1, kMaxChunks); break;
        case kSeconds: s.length.seconds = WholeNumber("--seconds", value, 1, kMaxSeconds); break;
        case ':': throw UsageError{OptionName(argv[optind - 1], optopt) + " needs a value"};
        default:  // '?'
            // A long option's text is the argument getopt_long stepped over;
            // a short one is known by its letter.
            throw UsageError{Refusal(optind > previous ? argv[optind - 1] : "", optopt)};
        }
    }
    if (optind < argc) throw UsageError{"unexpected argument " + Quoted(argv[optind])};
    if (s.out.empty()) throw UsageError{"no output file given (-o FILE, or -o - for standard output)"};
    if (s.length.seconds && (s.length.passes || s.length.chunks))
        throw UsageError{"--seconds cannot be combined with --passes or --chunks"};
    return s;
}

int Fail(int status, const std::string& message) {
    std::fprintf(stderr, "quorvex-render: %s\n", message.c_str());
    return status;
}

int Run(int argc, char** argv) {
    Settings s;
    try {
        s = ParseArguments(argc, argv);
    } catch (const UsageError& e) {
        Fail(2, e.message);
        std::fprintf(stderr, "Try 'quorvex-render --help' for the options.\n");
        return 2;
    }
    if (s.help || s.version) {
        if (s.help)
            std::printf(kUsage, kMaxPasses, kMaxChunks, kMaxSeconds);
        else
            std::printf("quorvex-render %s\n", QUORVEX_VERSION);
        if (std::fflush(stdout) != 0 || std::ferror(stdout))
            return Fail(1, std::string("write error on standard output: ") + std::strerror(errno));
        return 0;
    }
    OutputSettings& output = s.output;
    output.f_min = s.from.value_or(RangeOf(output.range).f_min);
    output.f_max = s.to.value_or(RangeOf(output.range).f_max);
    if (!LimitsUsable(output.f_min, output.f_max))
        return Fail(2, "cannot render with the limits " + std::to_string(output.f_min) + " Hz and " +
                           std::to_string(output.f_max) + " Hz: both must be above 0 Hz");

    std::string error;
    if (WriteWavFile(output, s.length, s.out, error)) return 0;
    return Fail(1, "cannot write " + (s.out == "-" ? std::string("standard output") : Quoted(s.out)) + ": " + error);
}

}  // namespace
}  // namespace quorvex

int main(int argc, char** argv) { return quorvex::Run(argc, argv); }
