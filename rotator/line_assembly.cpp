#include "rotator/line_assembly.h"

namespace rotator {

LineWalk WalkOneLine(const char* ring, size_t ringSize, size_t read, size_t write) {
    LineWalk walk;
    walk.nextRead = read;
    if (ring == nullptr || read >= ringSize || write >= ringSize) return walk;

    bool textEnded = false;  // a NUL was seen: the rest of the line is not part of its text
    for (size_t pos = read; pos != write; pos = (pos + 1) % ringSize) {
        const char c = ring[pos];
        if (c == '\r' || c == '\n') {
            walk.complete = true;
            walk.nextRead = (pos + 1) % ringSize;
            break;
        }
        if (c == '\0') textEnded = true;
        if (!textEnded && walk.length + 1 < kLineBufferSize) walk.text[walk.length++] = c;
    }
    walk.text[walk.length] = '\0';
    return walk;
}

}  // namespace rotator
