// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where an output stream on the sound server stands, and the one table of
// how events move it. The device keeps one StreamState per stream and
// changes it only through NextStreamState.
//
//   Connecting --connected--> Playing <--write-- RanDry
//                               |  \--underflow--^  |
//                         end of stream        end of stream
//                               v                   |
//                             Ending <--------------/
//                               | drained
//                               v
//                             Drained
//   reset: Playing, RanDry, Ending, Drained -> Playing
//   lost:  any open state -> Lost;  close: any state -> Closed

#include <optional>

namespace quorvex {

enum class StreamState {
    Connecting,  // the open is under way
    Playing,     // headers are written as the server asks and played
    RanDry,      // the server found the stream empty before its end: the next write is late
    Ending,      // no more writes; the server plays out what it holds once all is written
    Drained,     // the server has played out everything
    Lost,        // the server or the output went away; the headers and the close were posted
    Closed,      // closed by its owner (or its open failed)
};

enum class StreamEvent {
    Connected,    // the open succeeded
    Write,        // the owner queued a header
    Underflow,    // the server found nothing to play
    EndOfStream,  // the owner will write nothing more
    Drained,      // the server answered the drain: all has been played
    Reset,        // the owner stopped the stream; queued headers returned
    Lost,         // the connection or the stream failed
    Close,        // the owner closed the stream
};

// The state `event` leads to from `state`, or nothing when the event does
// not apply there (a write after the end of the stream is refused, an
// underflow while ending is the end itself, anything after a loss is
// ignored).
std::optional<StreamState> NextStreamState(StreamState state, StreamEvent event);

// Names for messages and test output.
const char* ToString(StreamState state);
const char* ToString(StreamEvent event);

}  // namespace quorvex
