// Random arrivals and consumptions against the receive ring, checked against a plain queue that
// follows the same rules: blocks of at most 20 bytes, at most 99 unread, and a store that brings
// the write position onto the read position abandons everything unread.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>

#include "serial/rx_ring.h"

namespace {

constexpr size_t kSize = 100;

void Check(bool condition) {
    if (!condition) abort();
}

struct Model {
    char slots[kSize] = {};
    char* write = slots;
    char* read = slots;
    std::deque<char> unread;

    void Arrive(const uint8_t* bytes, size_t count) {
        const char* block = reinterpret_cast<const char*>(bytes);
        const kelma::RxStoreResult r = kelma::RingStore(slots, kSize, write, read, block, count);
        write = r.write;
        size_t kept = 0;
        for (; kept < count && unread.size() < kSize - 1; ++kept) unread.push_back(block[kept]);
        const bool overflow = kept < count;
        if (overflow) unread.clear();
        Check(r.complete == !overflow);
    }

    void Consume(size_t count) {
        read = kelma::RingAdvance(slots, kSize, read, write, count);
        for (size_t i = 0; i < count && !unread.empty(); ++i) unread.pop_front();
    }

    void CheckInvariants() const {
        Check(write >= slots && write < slots + kSize);
        Check(read >= slots && read < slots + kSize);
        const size_t n = kelma::RingUnread(slots, kSize, read, write);
        Check(n == unread.size() && n <= kSize - 1);
        char out[kSize];
        Check(kelma::RingPeek(slots, kSize, read, write, out, sizeof(out)) == n);
        for (size_t i = 0; i < n; ++i) Check(out[i] == unread[i]);
    }
};

}  // namespace

// Each step takes one control byte: the top bit chooses an arrival (the low bits give its size,
// 0 to 20, and the bytes follow in the input) or a consumption of the low bits' count.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Model model;
    size_t i = 0;
    while (i < size) {
        const uint8_t control = data[i++];
        const size_t amount = control & 0x7F;
        if (control & 0x80) {
            size_t count = amount % (kelma::kRxReadMax + 1);
            if (count > size - i) count = size - i;
            model.Arrive(data + i, count);
            i += count;
        } else {
            model.Consume(amount);
        }
        model.CheckInvariants();
    }
    return 0;
}
