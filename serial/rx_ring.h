// Rules of the receive ring: a fixed array of slots with two positions that only run forward and
// wrap from the last slot to the first. The port's I/O thread stores what it read from the port at
// the write position; the UI thread takes bytes from the read position. There is no count and no
// "full" state: the ring is empty exactly when both positions are equal, so at most size - 1
// bytes are ever unread. Storing the byte that would make the positions meet abandons every
// unread byte (the ring reads as empty again) and drops the rest of that block.
//
// Plain C++ without the Windows API; the callers hold the ring's lock around every call.
#pragma once

#include <cstddef>

namespace serial {

// Most bytes the port's I/O thread reads from the port in one pass.
constexpr size_t kRxReadMax = 20;

struct RxStoreResult {
    char* write;    // the new write position
    bool complete;  // false when the ring overflowed and the rest of the block was dropped
};

// The slot after position: slot size - 1 is followed by slot 0.
char* RingNext(char* ring, size_t size, char* position);

// Number of unread bytes, from read up to (not including) write.
size_t RingUnread(const char* ring, size_t size, const char* read, const char* write);

// Stores count bytes from write on, stopping when the new position reaches read (overflow).
RxStoreResult RingStore(char* ring, size_t size, char* write, const char* read, const char* bytes,
                        size_t count);

// Copies up to max unread bytes, oldest first, into out without moving read; returns how many.
size_t RingPeek(const char* ring, size_t size, const char* read, const char* write, char* out,
                size_t max);

// Moves read forward by count bytes, but never past write; returns the new read position.
char* RingAdvance(char* ring, size_t size, char* read, const char* write, size_t count);

}  // namespace serial
