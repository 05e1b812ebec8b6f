// Drives a fuzz target without libFuzzer: pseudo-random inputs of varied sizes and byte mixes
// from a fixed seed, so a run is repeatable. Usage: <target> [--iterations N] [--seed S]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// Bytes the program's parsers care about, so random inputs hit their branches often.
constexpr uint8_t kInteresting[] = {'\r', '\n', '\0', '|', '-', '+', ' ', '\t', 'A', 'E',
                                    'P',  'M',  'V',  '0', '9', '1', '5', 0xFF, 0x80};

std::vector<uint8_t> MakeInput(std::mt19937& rng) {
    std::uniform_int_distribution<int> sizeKind(0, 9);
    const int kind = sizeKind(rng);
    const size_t maxSize = kind < 6 ? 32 : (kind < 9 ? 300 : 4096);
    std::vector<uint8_t> input(std::uniform_int_distribution<size_t>(0, maxSize)(rng));
    std::uniform_int_distribution<int> pick(0, 3);
    std::uniform_int_distribution<int> anyByte(0, 255);
    std::uniform_int_distribution<size_t> interesting(0, sizeof(kInteresting) - 1);
    for (uint8_t& b : input) {
        b = pick(rng) == 0 ? static_cast<uint8_t>(anyByte(rng)) : kInteresting[interesting(rng)];
    }
    return input;
}

}  // namespace

int main(int argc, char** argv) {
    long iterations = 10000;
    unsigned seed = 12345;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--iterations") == 0) iterations = strtol(argv[i + 1], nullptr, 10);
        if (strcmp(argv[i], "--seed") == 0)
            seed = static_cast<unsigned>(strtoul(argv[i + 1], nullptr, 10));
    }
    std::mt19937 rng(seed);
    for (long i = 0; i < iterations; ++i) {
        const std::vector<uint8_t> input = MakeInput(rng);
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    printf("%ld inputs ran clean (seed %u)\n", iterations, seed);
    return 0;
}
