// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/play_timing.h"

#include <algorithm>
#include <numeric>

namespace quorvex {

namespace {

// While the read index stands still short of the next header's end, nothing
// says when it will move again: look again after a while that grows with
// the stall, between these bounds. A write asks for a look at once anyway.
constexpr PlayTiming::Usec kStallLookMin = 5'000;
constexpr PlayTiming::Usec kStallLookMax = 100'000;
// While the step that takes a header's end may come, figures are asked this
// often: how late a done notification may come beyond the sound, on a server
// that takes its stream in steps.
constexpr PlayTiming::Usec kStepPoll = 2'000;

}  // namespace

PlayTiming::PlayTiming(std::uint64_t bytes_per_second, Usec assumed_sink)
    : bytes_per_second_(bytes_per_second), assumed_sink_(assumed_sink) {}

void PlayTiming::Written(std::int64_t end) { ends_.push_back(end); }

void PlayTiming::Flushed() {
    ends_.clear();
    have_figures_ = false;
    moved_ = false;
}

void PlayTiming::Update(const Snapshot& snapshot) {
    if (have_figures_ && snapshot.read_index > read_) {
        moves_[next_move_] = snapshot.read_index - read_;
        next_move_ = (next_move_ + 1) % moves_.size();
        reached_after_ = figures_at_;
        moved_ = true;
    }
    if (!have_figures_ || snapshot.read_index != read_) {
        read_ = snapshot.read_index;
        read_seen_at_ = snapshot.at;
    }
    figures_at_ = snapshot.at;
    have_figures_ = true;
    if (snapshot.sink_usec > 0) {
        reports_sink_ = true;
    }
    sink_ = snapshot.sink_usec;
}

std::int64_t PlayTiming::Step() const {
    std::int64_t step = 0;
    int moves = 0;
    for (const std::int64_t move : moves_) {
        if (move > 0) {
            step = std::gcd(step, move);
            ++moves;
        }
    }
    return moves >= 2 ? step : 0;
}

// A server that reports the sink's delay is taken at its word. One that
// reports none (pipewire-pulse) plays what it took in one step over that
// step's length, so the last byte it took sounds at most a step after the
// figures showed it taken; before any step was seen, the assumed delay
// counts.
PlayTiming::Usec PlayTiming::Sink() const {
    if (reports_sink_) {
        return sink_;
    }
    const std::int64_t step = Step();
    return step > 0 ? ToUsec(step) : assumed_sink_;
}

PlayTiming::Usec PlayTiming::ToUsec(std::int64_t bytes) const {
    return bytes <= 0 ? 0 : static_cast<Usec>(bytes) * 1'000'000 / bytes_per_second_;
}

// At read_seen_at_ the byte just before the read index was at most Sink()
// from sounding, and the sink plays on in real time; a byte `read - end`
// earlier in the stream sounded that much sooner. The sink may have taken a
// stretch at once, which the reported delay includes, so the sum is a
// lower bound of how long ago it sounded.
std::int64_t PlayTiming::SoundedAgo(std::int64_t end, Usec now) const {
    const Usec since_seen = now > read_seen_at_ ? now - read_seen_at_ : 0;
    return static_cast<std::int64_t>(ToUsec(read_ - end) + since_seen) - static_cast<std::int64_t>(Sink());
}

std::size_t PlayTiming::TakePlayed(Usec now) {
    std::size_t played = 0;
    while (have_figures_ && !ends_.empty() && ends_.front() <= read_ && SoundedAgo(ends_.front(), now) >= 0) {
        ends_.pop_front();
        ++played;
    }
    return played;
}

PlayTiming::Look PlayTiming::NextLook(Usec now) const {
    if (ends_.empty()) {
        return {0, false};
    }
    if (!have_figures_) {
        return {0, true};
    }
    const std::int64_t end = ends_.front();
    if (end <= read_) {
        // Taken already: only the sink's delay is left, which the clock
        // measures without asking the server.
        const std::int64_t ago = SoundedAgo(end, now);
        return {ago >= 0 ? 0 : static_cast<Usec>(-ago), false};
    }
    // Not yet taken. The server takes it with the step that reaches
    // `reach`; read on in real time, it takes that step the bytes from read_
    // to there after it reached read_, which was after reached_after_ and at
    // the latest when seen. The figures may show a step a little later or
    // sooner than it came, so the asking starts one poll early. Without a
    // step seen yet, the end is `reach`, and the moment it is read the look.
    const std::int64_t step = std::max<std::int64_t>(Step(), 1);
    const std::int64_t reach = read_ + (end - read_ + step - 1) / step * step;
    const Usec from = moved_ ? reached_after_ + ToUsec(reach - read_) : read_seen_at_ + ToUsec(reach - read_);
    const Usec earliest = moved_ && from > kStepPoll ? from - kStepPoll : from;
    const Usec latest = read_seen_at_ + ToUsec(reach - read_);
    if (now < earliest) {
        return {earliest - now, true};
    }
    if (now < latest + kStepPoll) {
        return {kStepPoll, true};
    }
    // It should have been read by now and was not: the stream stands still.
    return {std::clamp((now - latest) / 2, kStallLookMin, kStallLookMax), true};
}

}  // namespace quorvex
