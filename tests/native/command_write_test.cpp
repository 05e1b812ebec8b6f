// Writing a command against a model of a Windows serial driver: a write stays pending until the
// device takes its bytes, and CancelIo only asks the driver to end it. Microsoft documents that
// drivers need not support cancelling, so a cancelled write may never end.
#include "serial/command_write.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace {

using kelma::CommandWriter;
using kelma::OpWait;
using kelma::WriteOutcome;

constexpr uint32_t kHour = 3600 * 1000;

class ModelWriteDriver {
public:
    bool deviceTakes = true;      // false: the device stopped taking bytes
    bool cancelCompletes = true;  // false: a driver that never ends a cancelled write

    bool Start() {
        ++starts;
        m_pending = true;
        m_cancelled = false;
        return false;
    }
    bool StartedPending() const { return true; }
    OpWait Wait(uint32_t ms) {
        bounds.push_back(ms);
        if (deviceTakes) {
            m_pending = false;
            return OpWait::kFinished;
        }
        Pass(ms);
        return OpWait::kTimedOut;
    }
    bool Settle(uint32_t ms) {
        if (m_cancelled && cancelCompletes) m_pending = false;
        if (!m_pending) return true;
        Pass(ms);
        return false;
    }
    void Cancel() { m_cancelled = true; }
    bool Finished(size_t& count) {
        count = m_cancelled ? 0 : 3;
        return !m_cancelled;
    }
    void ClearErrors() { ++clears; }
    void GiveUp() {
        EXPECT_TRUE(m_pending) << "only a write the driver still holds is given up";
        ++givenUp;
    }

    uint32_t now = 0;
    std::vector<uint32_t> bounds;  // each write's bound
    int starts = 0;
    int clears = 0;
    int givenUp = 0;

private:
    // The model's clock; a wait that would never end fails the test instead.
    void Pass(uint32_t ms) {
        if (ms == kelma::kNoBound || now + static_cast<uint64_t>(ms) > kHour)
            throw std::runtime_error("the window waits for ever");
        now += ms;
    }

    bool m_pending = false;
    bool m_cancelled = false;
};

TEST(CommandWrite, StalledWriteIsCancelledAndLaterOnesGetTheShortBoundUntilOneIsTaken) {
    ModelWriteDriver driver;
    CommandWriter writer;
    driver.deviceTakes = false;
    EXPECT_EQ(writer.Write(driver), WriteOutcome::kStalled);
    EXPECT_EQ(writer.Write(driver), WriteOutcome::kStalled);
    driver.deviceTakes = true;
    EXPECT_EQ(writer.Write(driver), WriteOutcome::kTaken);
    EXPECT_EQ(writer.Write(driver), WriteOutcome::kTaken);
    EXPECT_EQ(driver.bounds, (std::vector<uint32_t>{300, 50, 50, 300}));
    EXPECT_EQ(driver.clears, 2) << "each stalled write's errors are cleared";
}

TEST(CommandWrite, CancelThatNeverEndsGivesTheWriteUpAndTheFailedPortTakesNoMore) {
    ModelWriteDriver driver;
    CommandWriter writer;
    driver.deviceTakes = false;
    driver.cancelCompletes = false;
    EXPECT_EQ(writer.Write(driver), WriteOutcome::kGivenUp);
    EXPECT_EQ(driver.givenUp, 1);
    EXPECT_LT(driver.now, 1000u) << "the window waited " << driver.now << " ms";
    EXPECT_TRUE(writer.Stalled()) << "closing drops the unsent output";

    EXPECT_EQ(writer.Write(driver), WriteOutcome::kRefused);
    EXPECT_EQ(driver.starts, 1) << "nothing more is written to a failed port";
    EXPECT_EQ(driver.givenUp, 1);
}

TEST(CommandWrite, ANewPortStartsWithTheFullBoundAndTakesWritesAgain) {
    ModelWriteDriver driver;
    CommandWriter writer;
    driver.deviceTakes = false;
    writer.Write(driver);
    writer.PortOpened();
    driver.deviceTakes = true;
    EXPECT_EQ(writer.Write(driver), WriteOutcome::kTaken);
    EXPECT_EQ(driver.bounds.back(), 300u) << "the stall was the old port's";

    driver.deviceTakes = false;
    driver.cancelCompletes = false;
    EXPECT_EQ(writer.Write(driver), WriteOutcome::kGivenUp);
    writer.PortOpened();
    driver.deviceTakes = true;
    EXPECT_EQ(writer.Write(driver), WriteOutcome::kTaken);
    EXPECT_EQ(driver.bounds.back(), 300u);
}

}  // namespace
