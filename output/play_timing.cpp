// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/play_timing.h"

#include <algorithm>

namespace quorvex {

namespace {

// While the read index stands still short of the next header's end, nothing
// says when it will move again: look again after a while that grows with
// the stall, between these bounds. A write asks for a look at once anyway.
constexpr PlayTiming::Usec kStallLookMin = 5'000;
constexpr PlayTiming::Usec kStallLookMax = 100'000;

}  // namespace

PlayTiming::PlayTiming(std::uint64_t bytes_per_second, Usec assumed_sink)
    : bytes_per_second_(bytes_per_second), assumed_sink_(assumed_sink) {}

void PlayTiming::Written(std::int64_t end) { ends_.push_back(end); }

void PlayTiming::Flushed() {
    ends_.clear();
    have_figures_ = false;
}

void PlayTiming::Update(const Snapshot& snapshot) {
    if (!have_figures_ || snapshot.read_index != read_) {
        read_ = snapshot.read_index;
        read_seen_at_ = snapshot.at;
    }
    have_figures_ = true;
    if (snapshot.sink_usec > 0) {
        reports_sink_ = true;
    }
    sink_ = snapshot.sink_usec;
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
    // Not yet taken. Where the server reads on in real time, it takes the
    // end when the bytes before it have been read, and may take it a sink's
    // delay early: ask for figures then, so that the answer finds it taken
    // and only the clock is left to wait on.
    const Usec since_seen = now > read_seen_at_ ? now - read_seen_at_ : 0;
    const Usec until_read = ToUsec(end - read_);
    if (until_read > since_seen) {
        return {until_read - since_seen, true};
    }
    // It should have been read by now and was not: the stream stands still.
    return {std::clamp((since_seen - until_read) / 2, kStallLookMin, kStallLookMax), true};
}

}  // namespace quorvex
