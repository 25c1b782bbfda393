// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Which headers of an output stream have been played by now, worked out
// from the sound server's timing figures: how far the server has read the
// stream, and how long its sink holds what it read before that sounds. No
// server in here: the device hands in the figures and the clock, and so can
// a test.
//
// Indices are the stream's byte indices as the server counts them; times
// are microseconds of one monotonic clock. Every estimate errs towards
// "not yet": a header is never reported played before its last frame can
// have sounded.
//
// Thread note: not thread-safe; the device uses it under its loop's lock.

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>

namespace quorvex {

class PlayTiming {
public:
    using Usec = std::uint64_t;

    // The server's figures at one moment.
    struct Snapshot {
        Usec at;                  // when they were received (not earlier than when they held)
        std::int64_t read_index;  // bytes the server has taken from the stream
        Usec sink_usec;           // how long what it took waits in the sink before it sounds; 0: not reported
    };

    // When to look again, and whether the look needs fresh figures from the
    // server or only the clock.
    struct Look {
        Usec after;
        bool fresh_figures;
    };

    // `bytes_per_second` of the stream; `assumed_sink`: the sink's delay to
    // count on where the server reports none and the read index has not
    // moved since the open or a flush. (pipewire-pulse reports 0, yet what
    // it took in one graph cycle sounds over that cycle: once the read index
    // has moved, the server's step is counted instead.)
    PlayTiming(std::uint64_t bytes_per_second, Usec assumed_sink);

    // A header has been handed over in full; its last byte ends before
    // stream index `end`. Ends come in order.
    void Written(std::int64_t end);

    // The server dropped what it held (a flush) and the caller returned the
    // written headers itself: forgets them. The read index a flush leaves
    // may lie behind the last one seen (the sink gave back what it had
    // taken), so only figures from after the flush count.
    void Flushed();

    void Update(const Snapshot& snapshot);

    // How many of the written headers, oldest first, have been played by
    // `now`; they are forgotten.
    std::size_t TakePlayed(Usec now);

    // When the oldest written header may have been played; nothing to look
    // for when no header waits (after.fresh_figures false, after 0 means
    // "now"). Without figures yet: fresh ones, now. A server that takes its
    // stream in steps (one graph cycle at a time) takes a header's end with
    // the step that reaches it, which may come well before the bytes before
    // the end would have been read one by one: the look goes to the
    // earliest moment that step can come and then asks every kStepPoll
    // until it came, so that the figures see the end taken soon after.
    Look NextLook(Usec now) const;

    std::size_t waiting() const { return ends_.size(); }

private:
    Usec ToUsec(std::int64_t bytes) const;
    Usec Sink() const;
    // How long before `now` the byte at `end` (at or before the read index)
    // sounded at the latest; negative: how long until it sounds at the latest.
    std::int64_t SoundedAgo(std::int64_t end, Usec now) const;

    std::uint64_t bytes_per_second_;
    Usec assumed_sink_;
    std::deque<std::int64_t> ends_;  // of the headers written and not yet played
    bool have_figures_ = false;
    std::int64_t read_ = 0;
    // When the read index was first seen where it stands. While it stands
    // still (the stream ran dry, or waits for more), the sink goes on
    // playing what it already took.
    Usec read_seen_at_ = 0;
    // The read index reached read_ after this moment (the figures before
    // showed less); moved_ is whether that is known since the open or flush.
    Usec reached_after_ = 0;
    bool moved_ = false;
    // The server's step: the greatest common divisor of the read index's
    // last moves between two figures (a move may span several steps; a
    // server may change its step). 0 until two moves were seen: one move
    // may be many steps.
    std::int64_t Step() const;
    std::array<std::int64_t, 8> moves_{};
    std::size_t next_move_ = 0;
    Usec figures_at_ = 0;  // when the last figures came
    Usec sink_ = 0;
    bool reports_sink_ = false;  // the server has reported a sink delay once
};

}  // namespace quorvex
