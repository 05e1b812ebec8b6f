// The event output of the DDE server's programs (the prediction-server simulator, the relay's
// log): one line per event, each starting with a microsecond timestamp from the performance
// counter, so that tests and benchmarks can measure latency against it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>

// GCC and clang check the format against the arguments; other compilers go without.
#if defined(__GNUC__)
#define KELMA_PRINTF_FORMAT(formatIndex, firstArgument) \
    __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define KELMA_PRINTF_FORMAT(formatIndex, firstArgument)
#endif

namespace kelmafeed {

class EventLog {
public:
    // Without a file (nullptr) the lines go nowhere.
    explicit EventLog(FILE* out);
    ~EventLog();
    // Writes "<microseconds> <text>" as one line and flushes it.
    void Line(const char* format, ...) KELMA_PRINTF_FORMAT(2, 3);

private:
    FILE* m_out;
    CRITICAL_SECTION m_lock;
};

}  // namespace kelmafeed
