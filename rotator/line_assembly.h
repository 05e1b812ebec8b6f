// Cutting the received characters in the receive ring into lines. Every CR and every LF ends a
// line; a NUL ends a line's text (what follows it up to the line end is consumed unseen).
#pragma once

#include <cstddef>

namespace rotator {

// The line buffer, terminator included. The ring never holds more than 99 unread characters,
// so one walk never needs more; longer runs (a larger ring) are consumed but not stored.
constexpr size_t kLineBufferSize = 100;

struct LineWalk {
    bool complete = false;  // a CR or LF was reached
    size_t nextRead = 0;    // read position after the line end; the old one when incomplete
    size_t length = 0;      // characters of the line's text, before any NUL
    char text[kLineBufferSize] = {};  // the line's text, NUL-terminated
};

// One walk over the ring from `read` towards `write` (positions are slot indices; equal means
// empty; both step from the last slot to the first). Stops at the first CR or LF. When none
// is reached the line is unfinished: nothing is consumed and it is read again next time.
// Positions outside the ring give an unfinished, empty walk.
LineWalk WalkOneLine(const char* ring, size_t ringSize, size_t read, size_t write);

}  // namespace rotator
