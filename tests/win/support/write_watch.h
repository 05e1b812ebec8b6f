// Every WriteFile call of this test program (the operator window's commands and polls among
// them), stamped on the program's own clock as it is made and as it returns. The simulator
// stamps bytes when it reads them, and a busy machine can delay that read until a later write
// has arrived too; these stamps cannot move that way, so gaps between writes measured here are
// never shorter than the program made them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct TimedWrite {
    int64_t startMicros;  // as WriteFile was called
    int64_t endMicros;    // as it returned
    std::string bytes;
};

// While it lives, this program's calls of WriteFile go through it (its import of the function
// is pointed at a recorder). One at a time.
class WriteWatch {
public:
    WriteWatch();
    ~WriteWatch();
    WriteWatch(const WriteWatch&) = delete;
    WriteWatch& operator=(const WriteWatch&) = delete;

    bool Active() const { return m_slot != nullptr; }
    // The writes so far, in the order they were made.
    std::vector<TimedWrite> Writes() const;

    // The clock of the stamps (the performance counter), in microseconds.
    static int64_t NowMicros();

private:
    FARPROC* m_slot = nullptr;  // this program's import entry of WriteFile
    FARPROC m_original = nullptr;
};

}  // namespace testing_support
