// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/stream_state.h"

namespace quorvex {

std::optional<StreamState> NextStreamState(StreamState state, StreamEvent event) {
    using S = StreamState;
    using E = StreamEvent;
    const bool open = state == S::Playing || state == S::RanDry || state == S::Ending || state == S::Drained;
    switch (event) {
    case E::Connected:
        return state == S::Connecting ? std::optional(S::Playing) : std::nullopt;
    case E::Write:
        // Only a stream that still takes headers: a late write (RanDry)
        // plays on where the stream stands.
        return state == S::Playing || state == S::RanDry ? std::optional(S::Playing) : std::nullopt;
    case E::Underflow:
        // While ending, running out is the end itself; only a playing
        // stream can be late.
        return state == S::Playing ? std::optional(S::RanDry) : std::nullopt;
    case E::EndOfStream:
        return state == S::Playing || state == S::RanDry ? std::optional(S::Ending) : std::nullopt;
    case E::Drained:
        return state == S::Ending ? std::optional(S::Drained) : std::nullopt;
    case E::Reset:
        return open ? std::optional(S::Playing) : std::nullopt;
    case E::Lost:
        // A failure while connecting is the open's failure, not a loss.
        return open ? std::optional(S::Lost) : std::nullopt;
    case E::Close:
        return state == S::Closed ? std::nullopt : std::optional(S::Closed);
    }
    return std::nullopt;
}

const char* ToString(StreamState state) {
    switch (state) {
    case StreamState::Connecting: return "Connecting";
    case StreamState::Playing: return "Playing";
    case StreamState::RanDry: return "RanDry";
    case StreamState::Ending: return "Ending";
    case StreamState::Drained: return "Drained";
    case StreamState::Lost: return "Lost";
    case StreamState::Closed: return "Closed";
    }
    return "?";
}

const char* ToString(StreamEvent event) {
    switch (event) {
    case StreamEvent::Connected: return "Connected";
    case StreamEvent::Write: return "Write";
    case StreamEvent::Underflow: return "Underflow";
    case StreamEvent::EndOfStream: return "EndOfStream";
    case StreamEvent::Drained: return "Drained";
    case StreamEvent::Reset: return "Reset";
    case StreamEvent::Lost: return "Lost";
    case StreamEvent::Close: return "Close";
    }
    return "?";
}

}  // namespace quorvex
