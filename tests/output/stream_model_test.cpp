// SPDX-License-Identifier: GPL-3.0-or-later
// The real device's stream without a server: its state table, and the
// timing model that decides when a header has been played, driven by
// timing figures and a clock the test sets.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "output/play_timing.h"
#include "output/stream_state.h"

namespace quorvex {
namespace {

// Every (state, event) pair: what the stream becomes, or nothing where the
// event does not apply. A row per state, a column per event.
TEST(StreamStates, EveryStateAgainstEveryEvent) {
    using S = StreamState;
    using E = StreamEvent;
    constexpr std::optional<S> x = std::nullopt;
    const E events[] = {E::Connected, E::Write, E::Underflow, E::EndOfStream,
                        E::Drained,   E::Reset, E::Lost,      E::Close};
    const struct {
        S from;
        std::optional<S> to[8];  // in the order of `events`
    } rows[] = {
        //                 Connected   Write       Underflow  EndOfStream Drained     Reset       Lost     Close
        {S::Connecting, {S::Playing, x, x, x, x, x, x, S::Closed}},
        {S::Playing, {x, S::Playing, S::RanDry, S::Ending, x, S::Playing, S::Lost, S::Closed}},
        // A late write plays on; the next underflow is a new break.
        {S::RanDry, {x, S::Playing, x, S::Ending, x, S::Playing, S::Lost, S::Closed}},
        // Nothing is written after the end; running out is the end itself.
        {S::Ending, {x, x, x, x, S::Drained, S::Playing, S::Lost, S::Closed}},
        {S::Drained, {x, x, x, x, x, S::Playing, S::Lost, S::Closed}},
        // Lost: its close has been posted; only the owner's close is left.
        {S::Lost, {x, x, x, x, x, x, x, S::Closed}},
        {S::Closed, {x, x, x, x, x, x, x, x}},
    };
    for (const auto& row : rows) {
        for (std::size_t k = 0; k < std::size(events); ++k) {
            SCOPED_TRACE(std::string(ToString(row.from)) + " + " + ToString(events[k]));
            EXPECT_EQ(NextStreamState(row.from, events[k]), row.to[k]);
        }
    }
}

// One step of a timing case. Byte indices equal microseconds here (a
// stream of 1 000 000 bytes per second), so positions read as times.
struct Step {
    enum Kind { Write, Figures, Flush, Played, Look } kind;
    std::uint64_t at = 0;   // the clock: when figures came, or "now"
    std::int64_t index = 0;  // a header's end, or the read index
    std::uint64_t sink = 0;  // the sink delay reported
    std::size_t played = 0;  // Played: headers expected done by `at`
    std::uint64_t after_min = 0, after_max = 0;  // Look: the wait expected
    bool fresh = false;      // Look: whether it needs the server's figures
};
Step Wrote(std::int64_t end) { return {Step::Write, 0, end}; }
Step Figures(std::uint64_t at, std::int64_t read, std::uint64_t sink) { return {Step::Figures, at, read, sink}; }
Step Flushed() { return {Step::Flush}; }
Step PlayedBy(std::uint64_t now, std::size_t n) { return {Step::Played, now, 0, 0, n}; }
Step LookAt(std::uint64_t now, std::uint64_t min, std::uint64_t max, bool fresh) {
    return {Step::Look, now, 0, 0, 0, min, max, fresh};
}

TEST(PlayTiming, WhenEachHeaderHasBeenPlayed) {
    constexpr PlayTiming::Usec kAssumedSink = 25'000;
    const struct {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"steady: the figures are asked for when the end is read, the sink's delay is left to the clock",
         {Wrote(100'000), LookAt(0, 0, 0, true), Figures(0, 0, 20'000), LookAt(0, 100'000, 100'000, true),
          Figures(100'000, 110'000, 20'000), PlayedBy(100'000, 0), LookAt(100'000, 10'000, 10'000, false),
          PlayedBy(109'999, 0), PlayedBy(110'000, 1), LookAt(110'000, 0, 0, false)}},
        {"two headers come back one at a time",
         {Wrote(50'000), Wrote(100'000), Figures(0, 0, 10'000), Figures(80'000, 80'000, 10'000),
          PlayedBy(80'000, 1), PlayedBy(200'000, 0), Figures(200'000, 110'000, 10'000), PlayedBy(200'000, 1)}},
        {"pipewire-pulse reports no sink delay: the assumed cycle counts",
         {Wrote(100'000), Figures(100'000, 100'000, 0), PlayedBy(124'999, 0), PlayedBy(125'000, 1)}},
        {"a server taking 40 ms steps and reporting no sink delay: the looks go to the step that takes the end, "
         "and the end sounds as late in its step as it lies in it (not the assumed 25 ms after the step)",
         {Wrote(140'000), Figures(0, 0, 0), Figures(1'000, 40'000, 0), Figures(41'000, 80'000, 0),
          LookAt(41'000, 38'000, 38'000, true), Figures(79'000, 120'000, 0), LookAt(79'000, 2'000, 2'000, true),
          Figures(120'500, 160'000, 0), PlayedBy(140'499, 0), LookAt(140'000, 500, 500, false),
          PlayedBy(140'500, 1)}},
        {"one move of the read index is not yet a step: it may span many, and the assumed delay counts",
         {Wrote(100'000), Figures(0, 0, 0), Figures(251'000, 280'000, 0), PlayedBy(251'000, 1)}},
        {"stall at the end: the read index stands, the sink plays on",
         {Wrote(100'000), Figures(90'000, 100'000, 30'000), PlayedBy(100'000, 0),
          Figures(110'000, 100'000, 30'000), PlayedBy(119'999, 0), PlayedBy(120'000, 1)}},
        {"stall short of the end (a server keeping back part of a cycle): no done, and looks back off",
         {Wrote(100'000), Figures(0, 0, 25'000), Figures(80'000, 80'000, 25'000),
          Figures(200'000, 80'000, 25'000), PlayedBy(500'000, 0), LookAt(200'000, 5'000, 100'000, true),
          LookAt(1'000'000, 100'000, 100'000, true)}},
        {"flush: the server gave back what its sink held, figures from before count no more",
         {Wrote(130'000), Figures(0, 120'000, 25'000), Flushed(), Wrote(110'000), PlayedBy(50'000, 0),
          LookAt(50'000, 0, 0, true), Figures(50'000, 100'000, 25'000), PlayedBy(60'000, 0),
          Figures(85'000, 110'000, 25'000), PlayedBy(109'999, 0), PlayedBy(110'000, 1)}},
        {"late write after a run-dry: the stall before it does not make it early",
         {Wrote(100'000), Figures(100'000, 100'000, 25'000), PlayedBy(125'000, 1), Wrote(150'000),
          Figures(400'000, 100'000, 25'000), PlayedBy(500'000, 0), Figures(452'000, 152'000, 25'000),
          PlayedBy(474'999, 0), PlayedBy(475'000, 1)}},
        {"nothing written, nothing to look for", {Figures(0, 0, 0), LookAt(0, 0, 0, false), PlayedBy(1'000'000, 0)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PlayTiming timing(1'000'000, kAssumedSink);
        for (std::size_t k = 0; k < c.steps.size(); ++k) {
            SCOPED_TRACE("step " + std::to_string(k));
            const Step& s = c.steps[k];
            switch (s.kind) {
            case Step::Write: timing.Written(s.index); break;
            case Step::Figures: timing.Update({s.at, s.index, s.sink}); break;
            case Step::Flush: timing.Flushed(); break;
            case Step::Played: EXPECT_EQ(timing.TakePlayed(s.at), s.played); break;
            case Step::Look: {
                const PlayTiming::Look look = timing.NextLook(s.at);
                EXPECT_GE(look.after, s.after_min);
                EXPECT_LE(look.after, s.after_max);
                EXPECT_EQ(look.fresh_figures, s.fresh);
                break;
            }
            }
        }
    }
}

}  // namespace
}  // namespace quorvex
