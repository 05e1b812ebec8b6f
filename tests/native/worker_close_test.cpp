// How a caller waits for a port's threads to end, against a model thread and a model driver.
// Windows holds a thread's exit until its I/O requests have ended, so a port thread whose driver
// ignores the cancel can take minutes to end, and a driver may not answer a call at all.
#include "serial/worker_close.h"

#include "serial/worker_tie.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "tests/native/model_port.h"

namespace {

using serial::WorkerEnd;
using serial::WorkerWait;

constexpr uint32_t kHour = 3600 * 1000;
constexpr uint32_t kBoundMs = 3000;

class ModelWorker {
public:
    bool endsOnItsOwn = false;
    bool notificationOnItsWay = false;  // blocked in its synchronous ID_SERIAL_DATA
    bool waitsFail = false;             // the platform cannot make the caller's wait

    uint32_t Now() const { return now; }
    bool Ended() const { return m_ended; }
    WorkerWait Wait(uint32_t ms) {
        ++waits;
        if (waitsFail) return WorkerWait::kFailed;
        if (notificationOnItsWay) return WorkerWait::kWoken;
        if (endsOnItsOwn) {
            m_ended = true;
            return WorkerWait::kWoken;
        }
        Pause(ms);
        return WorkerWait::kTimedOut;
    }
    void Pause(uint32_t ms) {
        m_waited += ms;
        if (m_waited > kHour) throw std::runtime_error("the caller waits for ever");
        now += ms;
    }
    void LetSentMessagesThrough() {
        if (!notificationOnItsWay) return;
        notificationOnItsWay = false;
        endsOnItsOwn = true;  // it sees the stop request once the notification is handled
    }

    uint32_t now = 0xFFFFF000;  // the tick count wraps during the wait
    int waits = 0;

private:
    bool m_ended = false;
    uint64_t m_waited = 0;
};

TEST(WorkerClose, NotificationOnItsWayIsHandledAndTheWorkerEnds) {
    ModelWorker worker;
    worker.notificationOnItsWay = true;
    EXPECT_EQ(serial::WaitForWorkerEnd(worker, kBoundMs), WorkerEnd::kEnded);
    EXPECT_FALSE(worker.notificationOnItsWay);
}

TEST(WorkerClose, WorkerThatDoesNotEndIsLeftBehindAfterThreeSeconds) {
    ModelWorker worker;
    const uint32_t start = worker.now;
    EXPECT_EQ(serial::WaitForWorkerEnd(worker, kBoundMs), WorkerEnd::kLeftBehind);
    EXPECT_EQ(worker.now - start, 3000u);
}

// A failed wait (WAIT_FAILED) says nothing of the worker: taking it for the end would close the
// port under a worker that still runs and never let go of it.
TEST(WorkerClose, FailedWaitIsNotTakenForTheEndAndDoesNotSpin) {
    ModelWorker worker;
    worker.waitsFail = true;
    EXPECT_EQ(serial::WaitForWorkerEnd(worker, kBoundMs), WorkerEnd::kLeftBehind);
    EXPECT_FALSE(worker.Ended());
    EXPECT_LE(worker.waits, static_cast<int>(kBoundMs / serial::kWorkerCheckMs))
        << "each failed wait is followed by a pause";
}

// A port opened whose line cannot be set is closed again before the open is answered, so that
// the close has nothing to wait for and the port opens again later.
TEST(WorkerClose, PortWhoseLineCannotBeSetIsReleasedAndOpensAgain) {
    auto line = std::make_shared<model::Line>();
    line->failIn = "SetCommState";
    model::Sink sink;
    serial::PortThread port;
    EXPECT_FALSE(model::Open(port, line, sink).ok);
    EXPECT_FALSE(line->Under([](model::Line& l) { return l.open; }));
    EXPECT_TRUE(port.Close());
    line->Under([](model::Line& l) { return l.failIn = ""; });
    EXPECT_TRUE(model::Open(port, line, sink).ok);
}

struct HangCase {
    const char* call;
    bool opens;  // the open is answered; the hang comes later
};

class DriverThatNeverAnswers : public ::testing::TestWithParam<HangCase> {};

// Every call that reaches the driver is the I/O thread's: the caller gets its answer or its
// bound, the port fails once, and what the driver holds is freed once it lets go.
TEST_P(DriverThatNeverAnswers, CostsTheCallerItsBoundAndFailsThePortOnce) {
    auto line = std::make_shared<model::Line>();
    line->hangIn = GetParam().call;
    // Short bounds for what hangs here: the open, or (once open) a write and the close.
    serial::PortSettings settings = model::Settings();
    if (!GetParam().opens) settings.bounds.openMs = model::kShortMs;
    settings.writes.takenMs = settings.bounds.closeMs = model::kShortMs;
    settings.bounds.callMs = 50;
    model::Sink sink;
    {
        serial::PortThread port;
        const serial::OpenResult opened = model::Open(port, line, sink, settings);
        ASSERT_EQ(opened.ok, GetParam().opens);
        if (!opened.ok) {
            EXPECT_EQ(opened.error, serial::kOpenTimedOut);
        }
        // The receive passes clear the port's errors at once: there the writes hang.
        if (line->hangIn == "ClearCommError") {
            EXPECT_EQ(port.Write("A\r\n"), serial::WriteOutcome::kGivenUp);
        }
        if (line->hangIn == "ClearCommError" || !opened.ok) {
            EXPECT_EQ(port.Write("E\r\n"), serial::WriteOutcome::kRefused)
                << "a failed port takes no more writes";
        }
        if (opened.ok) {
            EXPECT_FALSE(port.Close()) << "left behind, not released";
        }
        EXPECT_FALSE(line->Under([](model::Line& l) { return l.letGo; }))
            << "the caller came back while the driver still held the call";
    }
    line->LetGo();
    EXPECT_TRUE(line->WaitFreed());
}

INSTANTIATE_TEST_SUITE_P(
    Calls, DriverThatNeverAnswers,
    ::testing::Values(HangCase{"CreateFile", false}, HangCase{"GetCommState", false},
                      HangCase{"SetCommState", false}, HangCase{"SetCommMask", false},
                      HangCase{"ClearCommError", true}, HangCase{"PurgeComm", true},
                      HangCase{"CloseHandle", true}),
    [](const auto& info) { return std::string(info.param.call); });

// A worker left behind ends later, after the window has gone: it must not reach the window.
TEST(WorkerTie, WorkerLeftBehindNeverReachesTheWindow) {
    struct Window {
        int touches = 0;
    };
    auto window = std::make_unique<Window>();
    serial::WorkerTie<Window, std::mutex> tie(*window);
    EXPECT_TRUE(tie.WithOwner([](Window& w) { ++w.touches; }));
    EXPECT_EQ(window->touches, 1);

    tie.LetGo();
    window.reset();
    EXPECT_FALSE(tie.WithOwner([](Window& w) { ++w.touches; }));
}

}  // namespace
