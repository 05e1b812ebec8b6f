// Random byte streams cut at random points into receive-ring notifications: the line assembly
// must stay inside the ring and its line buffer, and must give every completed line exactly
// once, the same however the stream is cut.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "rotator/line_assembly.h"

namespace {

constexpr size_t kRing = 100;
constexpr size_t kLongestRun = kRing - 2;  // longest unfinished line the ring can carry on
constexpr size_t kMaxBlock = 20;           // the receive worker reads at most 20 bytes a time

bool IsLineEnd(uint8_t c) {
    return c == '\r' || c == '\n';
}

// The stream with a line end put into every run too long for the ring (the worker would drop
// such a run; that loss is not the line assembly's to check).
std::vector<uint8_t> Carryable(const uint8_t* data, size_t size) {
    std::vector<uint8_t> stream;
    size_t run = 0;
    for (size_t i = 0; i < size; ++i) {
        if (!IsLineEnd(data[i]) && run == kLongestRun) {
            stream.push_back('\n');
            run = 0;
        }
        run = IsLineEnd(data[i]) ? 0 : run + 1;
        stream.push_back(data[i]);
    }
    return stream;
}

// The lines of a whole stream, straight from the framing rule.
std::vector<std::string> ExpectedLines(const std::vector<uint8_t>& stream) {
    std::vector<std::string> lines;
    std::string line;
    bool textEnded = false;
    for (uint8_t c : stream) {
        if (IsLineEnd(c)) {
            lines.push_back(line);
            line.clear();
            textEnded = false;
        } else if (c == 0) {
            textEnded = true;
        } else if (!textEnded) {
            line.push_back(static_cast<char>(c));
        }
    }
    return lines;
}

// Feeds the stream through a ring in blocks whose sizes come from `cuts` and collects the
// lines every notification completes.
std::vector<std::string> AssembledLines(const std::vector<uint8_t>& stream, size_t start,
                                        uint32_t cuts) {
    char ring[kRing] = {};
    size_t read = start, write = start;
    std::vector<std::string> lines;
    size_t next = 0;
    while (next < stream.size()) {
        const size_t unread = (write + kRing - read) % kRing;
        cuts = cuts * 1103515245u + 12345u;
        size_t block = 1 + (cuts >> 16) % kMaxBlock;
        if (block > kRing - 1 - unread) block = kRing - 1 - unread;
        if (block > stream.size() - next) block = stream.size() - next;
        if (block == 0) abort();  // the ring cannot take the stream: the harness is wrong
        for (size_t i = 0; i < block; ++i) {
            ring[write] = static_cast<char>(stream[next++]);
            write = (write + 1) % kRing;
        }
        for (;;) {
            const rotator::LineWalk walk = rotator::WalkOneLine(ring, kRing, read, write);
            if (!walk.complete) {
                if (walk.nextRead != read) abort();
                break;
            }
            if (walk.length >= rotator::kLineBufferSize || walk.text[walk.length] != '\0') abort();
            lines.emplace_back(walk.text, walk.length);
            read = walk.nextRead;
        }
    }
    return lines;
}

uint32_t Word(const uint8_t* data) {
    return data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t kHeader = 9;  // ring start, two cut seeds
    if (size < kHeader) return 0;
    const size_t start = data[0] % kRing;
    const std::vector<uint8_t> stream = Carryable(data + kHeader, size - kHeader);
    const std::vector<std::string> expected = ExpectedLines(stream);
    if (AssembledLines(stream, start, Word(data + 1)) != expected) abort();
    if (AssembledLines(stream, (start + 37) % kRing, Word(data + 5)) != expected) abort();
    return 0;
}
