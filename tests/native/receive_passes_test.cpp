// The receive worker's passes against a model of a Windows serial port: EV_RXCHAR is raised once
// per arrival of characters and not again for characters already queued, so a wait with bytes
// still queued and nothing arriving would leave them there until the next arrival.
#include "serial/receive_passes.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using serial::PassResult;
using serial::PortIo;
using serial::PortWait;

class WindowsRulePort {
public:
    void Arrive(const std::string& bytes) {
        m_queue += bytes;
        m_arrival = true;
    }
    void FailNextRead() { m_failRead = true; }
    // A framing or overrun error on a port with fAbortOnError: every wait fails until the error
    // state is cleared.
    void LineError() { m_lineError = true; }
    // The next reads return no bytes although the driver reports bytes queued.
    void ReadNothing(int times) { m_emptyReads = times; }

    // No arrival since the last wait: on Windows this wait would block until the next one.
    PortWait WaitForCharacters() {
        if (m_lineError && ++m_failedWaits > kFailedWaitsBeforeGivingUp) {
            m_blockedWith = m_queue.size();
            return PortWait::kStopped;
        }
        if (m_lineError) return PortWait::kFailed;
        if (!m_arrival) {
            m_blockedWith = m_queue.size();
            return PortWait::kStopped;
        }
        m_arrival = false;
        return PortWait::kCharacters;
    }
    bool QueuedBytes(size_t& queued) {
        m_lineError = false;
        queued = m_queue.size();
        return true;
    }
    PortIo Read(size_t wanted, size_t& count) {
        if (m_failRead) {
            m_failRead = false;
            count = 0;
            return PortIo::kFailed;
        }
        if (m_emptyReads > 0) {
            --m_emptyReads;
            m_lastRead.clear();
            count = 0;
            return PortIo::kDone;
        }
        m_lastRead = m_queue.substr(0, wanted);
        m_queue.erase(0, m_lastRead.size());
        count = m_lastRead.size();
        return PortIo::kDone;
    }
    void Deliver(size_t count) { blocks.push_back(m_lastRead.substr(0, count)); }
    bool StopRequested() const { return m_blockedWith.has_value(); }
    void Pause() { ++pauses; }

    // Bytes left queued when a wait would have blocked, if one did.
    std::optional<size_t> m_blockedWith;
    std::vector<std::string> blocks;
    int pauses = 0;

private:
    std::string m_queue;
    std::string m_lastRead;
    bool m_arrival = false;
    bool m_failRead = false;
    int m_emptyReads = 0;
    bool m_lineError = false;
    int m_failedWaits = 0;
    static constexpr int kFailedWaitsBeforeGivingUp = 5;  // the test's end, should it stay dead
};

const std::string kTwoReports = "AZP 123.0 MV\r\nELP 045.0 ST\r\n";  // 28 bytes

TEST(ReceivePasses, ReadsAllQueuedBytesBeforeWaitingForTheNextArrival) {
    WindowsRulePort port;
    serial::ReceivePasses<WindowsRulePort> passes(port);
    port.Arrive(kTwoReports + kTwoReports);  // 56 bytes in one arrival
    passes.Run();
    EXPECT_EQ(port.blocks, (std::vector<std::string>{kTwoReports.substr(0, 20),
                                                     (kTwoReports + kTwoReports).substr(20, 20),
                                                     (kTwoReports + kTwoReports).substr(40)}));
    EXPECT_EQ(port.m_blockedWith, 0u) << "the wait began with bytes still queued";
}

TEST(ReceivePasses, FirstPassReadsWhatCameBeforeTheWorkerStarted) {
    WindowsRulePort port;
    serial::ReceivePasses<WindowsRulePort> passes(port);
    port.Arrive("AZP 010.0 ST\r\n");
    port.WaitForCharacters();  // that arrival was raised before anyone waited
    EXPECT_EQ(passes.OnePass(), PassResult::kStored);
    EXPECT_EQ(port.blocks, std::vector<std::string>{"AZP 010.0 ST\r\n"});
    EXPECT_EQ(passes.OnePass(), PassResult::kStopped);
    EXPECT_EQ(port.m_blockedWith, 0u);
}

TEST(ReceivePasses, ExactlyTwentyQueuedLeaveNothingAndTheNextPassWaits) {
    WindowsRulePort port;
    serial::ReceivePasses<WindowsRulePort> passes(port);
    EXPECT_EQ(passes.OnePass(), PassResult::kIdle) << "the first pass finds nothing yet";
    port.Arrive(std::string(20, 'x'));
    EXPECT_EQ(passes.OnePass(), PassResult::kStored);
    EXPECT_EQ(passes.OnePass(), PassResult::kStopped) << "waits: nothing is left";
    EXPECT_EQ(port.m_blockedWith, 0u);
}

TEST(ReceivePasses, FailedReadStillTellsTheWindowPausesAndReadsTheQueueAgain) {
    WindowsRulePort port;
    serial::ReceivePasses<WindowsRulePort> passes(port);
    port.Arrive(kTwoReports);
    port.FailNextRead();
    passes.Run();
    EXPECT_EQ(port.pauses, 1);
    EXPECT_EQ(port.blocks,
              (std::vector<std::string>{"", kTwoReports.substr(0, 20), kTwoReports.substr(20)}));
    EXPECT_EQ(port.m_blockedWith, 0u);
}

TEST(ReceivePasses, EmptyReadsWithBytesQueuedAreIdleAndPauseWithoutTellingTheWindow) {
    WindowsRulePort port;
    serial::ReceivePasses<WindowsRulePort> passes(port);
    port.Arrive(kTwoReports);
    port.ReadNothing(6);
    passes.Run();
    EXPECT_EQ(port.blocks,
              (std::vector<std::string>{kTwoReports.substr(0, 20), kTwoReports.substr(20)}))
        << "an empty read is no block for the window";
    EXPECT_EQ(port.pauses, 4) << "from the third empty read in a row on, each pauses";
    EXPECT_EQ(port.m_blockedWith, 0u);
}

// After a line error a port that aborts on errors refuses every wait until ClearCommError; a
// failed wait must reach it, or receiving stays dead for good.
TEST(ReceivePasses, LineErrorOnAPortThatAbortsOnErrorsIsClearedAndReceivingGoesOn) {
    WindowsRulePort port;
    serial::ReceivePasses<WindowsRulePort> passes(port);
    EXPECT_EQ(passes.OnePass(), PassResult::kIdle) << "nothing yet: the next pass waits";
    port.LineError();
    port.Arrive(kTwoReports);
    passes.Run();
    EXPECT_EQ(port.blocks,
              (std::vector<std::string>{kTwoReports.substr(0, 20), kTwoReports.substr(20)}));
}

}  // namespace
