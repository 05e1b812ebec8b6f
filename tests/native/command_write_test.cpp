// Writing a command against a model of a Windows serial driver: a write stays pending until the
// device takes its bytes, and a cancel only asks the driver to end it. Microsoft documents that
// drivers need not support cancelling, so a cancelled write may never end.
#include "serial/command_write.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "tests/native/model_port.h"

namespace {

using serial::CommandWriter;
using serial::OpWait;
using serial::WriteOutcome;

constexpr uint32_t kHour = 3600 * 1000;
constexpr serial::WriteBounds kWindowBounds = {300, 50, 500};

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
    size_t Size() const { return 3; }
    void ClearErrors() { ++clears; }

    uint32_t now = 0;
    std::vector<uint32_t> bounds;  // each write's bound
    int starts = 0;
    int clears = 0;

private:
    // The model's clock; a wait that would never end fails the test instead.
    void Pass(uint32_t ms) {
        if (ms == serial::kNoBound || now + static_cast<uint64_t>(ms) > kHour)
            throw std::runtime_error("the window waits for ever");
        now += ms;
    }

    bool m_pending = false;
    bool m_cancelled = false;
};

TEST(CommandWrite, StalledWriteIsCancelledAndLaterOnesGetTheShortBoundUntilOneIsTaken) {
    ModelWriteDriver driver;
    CommandWriter writer(kWindowBounds);
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
    CommandWriter writer(kWindowBounds);
    driver.deviceTakes = false;
    driver.cancelCompletes = false;
    EXPECT_EQ(writer.Write(driver), WriteOutcome::kGivenUp);
    EXPECT_TRUE(writer.InFlight()) << "the driver keeps the write's record";
    EXPECT_LT(driver.now, 1000u) << "the window waited " << driver.now << " ms";
    EXPECT_TRUE(writer.Stalled()) << "closing drops the unsent output";

    EXPECT_EQ(writer.Write(driver), WriteOutcome::kRefused);
    EXPECT_EQ(driver.starts, 1) << "nothing more is written to a failed port";
}

// Each open port's I/O thread has a writer of its own.
TEST(CommandWrite, ANewPortStartsWithTheFullBoundAndTakesWritesAgain) {
    ModelWriteDriver driver;
    CommandWriter stalledPort(kWindowBounds);
    driver.deviceTakes = false;
    stalledPort.Write(driver);
    CommandWriter nextPort(kWindowBounds);
    driver.deviceTakes = true;
    EXPECT_EQ(nextPort.Write(driver), WriteOutcome::kTaken);
    EXPECT_EQ(driver.bounds.back(), 300u) << "the stall was the old port's";

    driver.deviceTakes = false;
    driver.cancelCompletes = false;
    EXPECT_EQ(nextPort.Write(driver), WriteOutcome::kGivenUp);
    CommandWriter thirdPort(kWindowBounds);
    driver.deviceTakes = true;
    EXPECT_EQ(thirdPort.Write(driver), WriteOutcome::kTaken);
    EXPECT_EQ(driver.bounds.back(), 300u);
}

// A device that takes nothing behind a driver that ends a write neither by a time-out nor when
// it is cancelled; the port thread gives a write a short bound before it cancels it.
std::shared_ptr<model::Line> StuckWriteLine() {
    auto line = std::make_shared<model::Line>();
    line->deviceTakes = false;
    line->honoursTimeouts = false;
    line->cancelEnds = false;
    return line;
}

serial::PortSettings ShortWriteBound() {
    serial::PortSettings settings = model::Settings();
    settings.writes.takenMs = model::kShortMs;
    return settings;
}

// The cancel is the I/O thread's (CancelIoEx, which only asks): on Windows NT CancelIo waits
// until the driver has ended the request, so a caller that cancelled itself stayed inside it.
TEST(CommandWrite, CancelTheDriverIgnoresCostsTheCallerItsBoundAndFailsThePortOnce) {
    auto line = StuckWriteLine();
    model::Sink sink;
    serial::PortThread port;
    ASSERT_TRUE(model::Open(port, line, sink, ShortWriteBound()).ok);
    EXPECT_EQ(port.Write("A\r\nS\r\n"), WriteOutcome::kGivenUp);
    EXPECT_TRUE(line->Holds(serial::PortRecord::kWrite))
        << "the caller came back before the driver";
    EXPECT_EQ(port.Write("E\r\nS\r\n"), WriteOutcome::kRefused);
    EXPECT_EQ(line->Under([](model::Line& l) { return l.starts[2]; }), 1) << "one write started";
    line->LetGo();
}

// The line's write time-out ends a write the device does not take with fewer bytes written, and
// reports success: that write was not taken. The line is set as the controller needs it.
TEST(CommandWrite, WriteTheLinesTimeOutEndsShortIsAStallAndNotTaken) {
    auto line = std::make_shared<model::Line>();
    line->deviceTakes = false;
    model::Sink sink;
    serial::PortThread port;
    ASSERT_TRUE(model::Open(port, line, sink).ok);
    EXPECT_EQ(port.Write("A\r\n045\r\n"), WriteOutcome::kStalled);
    EXPECT_NE(line->Under([](model::Line& l) { return l.calls; }).find("ClearCommError"),
              std::string::npos)
        << "its errors are cleared";
    const model::Dcb dcb = line->Under([](model::Line& l) { return l.dcb; });
    EXPECT_EQ(std::vector<uint32_t>({dcb.BaudRate, dcb.ByteSize, dcb.Parity, dcb.StopBits}),
              std::vector<uint32_t>({9600, 8, 0, 0}));
    EXPECT_EQ(std::vector<uint32_t>({dcb.fOutxCtsFlow, dcb.fOutxDsrFlow, dcb.fOutX, dcb.fInX,
                                     dcb.fDtrControl, dcb.fRtsControl, dcb.fAbortOnError}),
              std::vector<uint32_t>({0, 0, 0, 0, 0, 1, 0}))
        << "no flow control, DTR off, RTS on, no abort on errors";
    const model::Timeouts timeouts = line->Under([](model::Line& l) { return l.timeouts; });
    EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, model::Settings().writeTimeoutMs);
    EXPECT_EQ(timeouts.ReadIntervalTimeout, 0xFFFFFFFFu) << "reads return at once";
}

TEST(CommandWrite, PortWhoseRecordsGetNoEventIsNotOpenedAndTakesNoWrite) {
    auto line = std::make_shared<model::Line>();
    line->eventsFail = true;
    model::Sink sink;
    serial::PortThread port;
    const serial::OpenResult opened = model::Open(port, line, sink);
    EXPECT_FALSE(opened.ok);
    EXPECT_EQ(opened.error, serial::kNoRecordEvent);
    EXPECT_FALSE(line->Under([](model::Line& l) { return l.open; })) << "nothing is left open";
    EXPECT_EQ(port.Write("E\r\n"), WriteOutcome::kRefused);
    EXPECT_EQ(line->Under([](model::Line& l) { return l.starts[2]; }), 0);
}

// A write given up while the driver still holds it stays allocated after the close, and is
// freed once the driver lets go, however long after.
TEST(CommandWrite, GivenUpWriteIsFreedOnceTheDriverLetsGoAfterTheClose) {
    auto line = StuckWriteLine();
    model::Sink sink;
    serial::PortThread port;
    ASSERT_TRUE(model::Open(port, line, sink, ShortWriteBound()).ok);
    ASSERT_EQ(port.Write("A\r\n"), serial::WriteOutcome::kGivenUp);
    EXPECT_TRUE(port.Close()) << "the port itself is closed";
    EXPECT_FALSE(line->Under([](model::Line& l) { return l.open || l.freed; }));
    line->LetGo();
    EXPECT_TRUE(line->WaitFreed());
}

}  // namespace
