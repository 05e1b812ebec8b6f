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
        const serial::RxStoreResult r = serial::RingStore(slots, kSize, write, read, block, count);
        write = r.write;
        size_t kept = 0;
        for (; kept < count && unread.size() < kSize - 1; ++kept) unread.push_back(block[kept]);
        const bool overflow = kept < count;
        if (overflow) unread.clear();
        Check(r.complete == !overflow);
    }

    void Consume(size_t count) {
        read = serial::RingAdvance(slots, kSize, read, write, count);
        for (size_t i = 0; i < count && !unread.empty(); ++i) unread.pop_front();
    }

    void CheckInvariants() const {
        Check(write >= slots && write < slots + kSize);
        Check(read >= slots && read < slots + kSize);
        const size_t n = serial::RingUnread(slots, kSize, read, write);
        Check(n == unread.size() && n <= kSize - 1);
        char out[kSize];
        Check(serial::RingPeek(slots, kSize, read, write, out, sizeof(out)) == n);
        for (size_t i = 0; i < n; ++i) Check(out[i] == unread[i]);
    }
};

}  // namespace

// Each input byte is one step: four in five are an arrival of 0 to 20 bytes (numbered, so
// that every byte can be told from the others), the rest a consumption of 0 to 39 bytes. On
// average more arrives than is taken, so the ring fills and overflows often.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr unsigned kKinds = 5;
    constexpr unsigned kMostTaken = 40;
    Model model;
    uint8_t next = 0;
    for (size_t i = 0; i < size; ++i) {
        const unsigned step = data[i];
        if (step % kKinds != 0) {
            uint8_t block[serial::kRxReadMax];
            const size_t count = step / kKinds % (serial::kRxReadMax + 1);
            for (size_t k = 0; k < count; ++k) block[k] = next++;
            model.Arrive(block, count);
        } else {
            model.Consume(step / kKinds % kMostTaken);
        }
        model.CheckInvariants();
    }
    return 0;
}
