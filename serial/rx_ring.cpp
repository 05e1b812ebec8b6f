#include "serial/rx_ring.h"

namespace serial {

namespace {

size_t SlotOf(const char* ring, const char* position) {
    return static_cast<size_t>(position - ring);
}

}  // namespace

char* RingNext(char* ring, size_t size, char* position) {
    const size_t next = SlotOf(ring, position) + 1;
    return next == size ? ring : ring + next;
}

size_t RingUnread(const char* ring, size_t size, const char* read, const char* write) {
    const size_t readSlot = SlotOf(ring, read);
    const size_t writeSlot = SlotOf(ring, write);
    return writeSlot >= readSlot ? writeSlot - readSlot : size - readSlot + writeSlot;
}

RxStoreResult RingStore(char* ring, size_t size, char* write, const char* read, const char* bytes,
                        size_t count) {
    for (size_t i = 0; i < count; ++i) {
        *write = bytes[i];
        write = RingNext(ring, size, write);
        if (write == read) return {write, false};
    }
    return {write, true};
}

size_t RingPeek(const char* ring, size_t size, const char* read, const char* write, char* out,
                size_t max) {
    const size_t unread = RingUnread(ring, size, read, write);
    const size_t count = unread < max ? unread : max;
    size_t slot = SlotOf(ring, read);
    for (size_t i = 0; i < count; ++i) {
        out[i] = ring[slot];
        slot = slot + 1 == size ? 0 : slot + 1;
    }
    return count;
}

char* RingAdvance(char* ring, size_t size, char* read, const char* write, size_t count) {
    const size_t unread = RingUnread(ring, size, read, write);
    const size_t step = count < unread ? count : unread;
    return ring + (SlotOf(ring, read) + step) % size;
}

}  // namespace serial
