// Drives a fuzz target without libFuzzer: pseudo-random inputs of varied sizes and byte mixes
// from a fixed seed, so a run is repeatable. With a corpus (a folder of sample inputs, for
// targets whose inputs must have a shape random bytes rarely take) every sample runs first,
// then half the inputs are samples with a few random edits.
// Usage: <target> [--iterations N] [--seed S] [--corpus DIR]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
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

std::vector<std::vector<uint8_t>> ReadCorpus(const char* folder) {
    std::vector<std::filesystem::path> paths;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.is_regular_file()) paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());  // the same order on every machine
    std::vector<std::vector<uint8_t>> corpus;
    for (const auto& path : paths) {
        std::ifstream file(path, std::ios::binary);
        corpus.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    return corpus;
}

// A sample with one to eight edits: a byte changed, inserted or removed, or the end cut off.
std::vector<uint8_t> Mutated(std::vector<uint8_t> input, std::mt19937& rng) {
    const int edits = std::uniform_int_distribution<int>(1, 8)(rng);
    std::uniform_int_distribution<size_t> interesting(0, sizeof(kInteresting) - 1);
    for (int i = 0; i < edits; ++i) {
        const size_t at = std::uniform_int_distribution<size_t>(0, input.size())(rng);
        const uint8_t byte =
            rng() % 2 ? kInteresting[interesting(rng)] : static_cast<uint8_t>(rng());
        switch (rng() % 4) {
            case 0:
                if (at < input.size()) input[at] = byte;
                break;
            case 1:
                input.insert(input.begin() + static_cast<std::ptrdiff_t>(at), byte);
                break;
            case 2:
                if (at < input.size()) input.erase(input.begin() + static_cast<std::ptrdiff_t>(at));
                break;
            default:
                if (rng() % 8 == 0) input.resize(at);  // rarely: most edits keep the shape
                break;
        }
    }
    return input;
}

}  // namespace

int main(int argc, char** argv) {
    long iterations = 10000;
    unsigned seed = 12345;
    std::vector<std::vector<uint8_t>> corpus;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--iterations") == 0) iterations = strtol(argv[i + 1], nullptr, 10);
        if (strcmp(argv[i], "--seed") == 0)
            seed = static_cast<unsigned>(strtoul(argv[i + 1], nullptr, 10));
        if (strcmp(argv[i], "--corpus") == 0) corpus = ReadCorpus(argv[i + 1]);
    }
    for (const std::vector<uint8_t>& sample : corpus)
        LLVMFuzzerTestOneInput(sample.data(), sample.size());
    std::mt19937 rng(seed);
    for (long i = 0; i < iterations; ++i) {
        const std::vector<uint8_t> input = !corpus.empty() && i % 2 == 0
                                               ? Mutated(corpus[rng() % corpus.size()], rng)
                                               : MakeInput(rng);
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    printf("%ld inputs ran clean (seed %u, %zu samples)\n", iterations, seed, corpus.size());
    return 0;
}
