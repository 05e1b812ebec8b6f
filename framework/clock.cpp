#include "framework/clock.h"

#include <windows.h>

namespace framework {

int64_t NowMicroseconds() {
    constexpr int64_t kMicrosecondsPerSecond = 1000000;
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    // Whole seconds and the rest apart, so that the product cannot overflow.
    const int64_t seconds = counter.QuadPart / frequency.QuadPart;
    const int64_t rest = counter.QuadPart % frequency.QuadPart;
    return seconds * kMicrosecondsPerSecond + rest * kMicrosecondsPerSecond / frequency.QuadPart;
}

}  // namespace framework
