// One overlapped record against a model of a Windows driver: the record belongs to the driver
// from the start of an operation until the operation has ended, and a cancel only asks the
// driver to end it (drivers need not support cancelling).
#include "serial/overlapped_op.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>

namespace {

using serial::OpEnd;
using serial::OpWait;
using serial::OverlappedRecord;

// Operations stay pending; each wait reports the next scripted result (a wait of the receive
// worker also ends on its stop event, or fails). The driver lets go only when told.
class ModelDriver {
public:
    std::deque<OpWait> waits;
    bool cancelEnds = true;

    bool Start() {
        if (m_held) ++startsWhileHeld;
        ++starts;
        m_held = true;
        m_cancelled = false;
        return false;
    }
    bool StartedPending() const { return true; }
    OpWait Wait(uint32_t) {
        OpWait next = OpWait::kStopped;  // the test is over: a stop
        if (!waits.empty()) {
            next = waits.front();
            waits.pop_front();
        }
        if (next == OpWait::kFinished) m_held = false;
        return next;
    }
    bool Settle(uint32_t) {
        if (m_cancelled && cancelEnds) m_held = false;
        return !m_held;
    }
    void Cancel() { m_cancelled = true; }
    bool Finished(size_t& count) {
        count = 0;
        return !m_cancelled;
    }
    void LetGo() { m_held = false; }

    int starts = 0;
    int startsWhileHeld = 0;

private:
    bool m_held = false;
    bool m_cancelled = false;
};

constexpr uint32_t kGraceMs = 2000;

// A record left in flight: its wait failed and the driver did not end the cancelled operation.
class StuckRecord : public ::testing::Test {
protected:
    void SetUp() override {
        driver.cancelEnds = false;
        driver.waits = {OpWait::kFailed};
        ASSERT_EQ(Run(), OpEnd::kFailed);
        ASSERT_TRUE(record.InFlight());
    }
    OpEnd Run() {
        size_t count = 0;
        return record.Run(driver, serial::kNoBound, kGraceMs, count);
    }

    ModelDriver driver;
    OverlappedRecord record;
};

TEST_F(StuckRecord, NothingStartsOnItUntilTheDriverLetsGo) {
    // The next passes: the earlier operation has not ended, then a stop comes.
    driver.waits = {OpWait::kFailed, OpWait::kStopped};
    EXPECT_EQ(Run(), OpEnd::kFailed);
    EXPECT_EQ(Run(), OpEnd::kStopped);
    EXPECT_EQ(driver.startsWhileHeld, 0) << "an operation started on a record the driver holds";
    EXPECT_EQ(driver.starts, 1);
    EXPECT_TRUE(record.InFlight());
}

TEST_F(StuckRecord, IsUsedAgainOnceTheDriverHasLetGo) {
    driver.LetGo();
    driver.waits = {OpWait::kFinished, OpWait::kFinished};  // the old operation, then the new
    EXPECT_EQ(Run(), OpEnd::kDone);
    EXPECT_EQ(driver.starts, 2);
    EXPECT_EQ(driver.startsWhileHeld, 0);
    EXPECT_FALSE(record.InFlight());
}

}  // namespace
