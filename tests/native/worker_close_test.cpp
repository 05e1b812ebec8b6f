// ClosePort's wait for the receive worker against a model thread. Windows holds a thread's exit
// until its I/O requests have ended, so a worker whose driver ignores the cancel can take
// minutes to end.
#include "serial/worker_close.h"

#include "serial/worker_tie.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace {

using kelma::WorkerEnd;
using kelma::WorkerWait;

constexpr uint32_t kHour = 3600 * 1000;

class ModelWorker {
public:
    bool endsOnItsOwn = false;
    bool notificationOnItsWay = false;  // blocked in its synchronous ID_SERIAL_DATA

    uint32_t Now() const { return now; }
    WorkerWait Wait(uint32_t ms) {
        if (m_ended) return WorkerWait::kEnded;
        if (notificationOnItsWay) return WorkerWait::kMessage;
        if (endsOnItsOwn) {
            m_ended = true;
            return WorkerWait::kEnded;
        }
        m_waited += ms;
        if (m_waited > kHour) throw std::runtime_error("the window waits for ever");
        now += ms;
        return WorkerWait::kTimedOut;
    }
    void LetSentMessagesThrough() {
        if (!notificationOnItsWay) return;
        notificationOnItsWay = false;
        endsOnItsOwn = true;  // it sees the stop request once the notification is handled
    }
    void CloseErrorBox() { ++errorBoxChecks; }

    uint32_t now = 0xFFFFF000;  // the tick count wraps during the wait
    int errorBoxChecks = 0;

private:
    bool m_ended = false;
    uint64_t m_waited = 0;
};

TEST(WorkerClose, NotificationOnItsWayIsHandledAndTheWorkerEnds) {
    ModelWorker worker;
    worker.notificationOnItsWay = true;
    EXPECT_EQ(kelma::WaitForWorkerEnd(worker), WorkerEnd::kEnded);
    EXPECT_FALSE(worker.notificationOnItsWay);
}

TEST(WorkerClose, WorkerThatDoesNotEndIsLeftBehindAfterThreeSeconds) {
    ModelWorker worker;
    const uint32_t start = worker.now;
    EXPECT_EQ(kelma::WaitForWorkerEnd(worker), WorkerEnd::kLeftBehind);
    EXPECT_EQ(worker.now - start, 3000u);
    EXPECT_GT(worker.errorBoxChecks, 0) << "an error box of the worker is closed meanwhile";
}

// A worker left behind ends later, after the window has gone: it must not reach the window, and
// the last of the two to let go frees the tie (the sanitizers see a touch or a leak).
TEST(WorkerTie, WorkerLeftBehindNeverReachesTheWindowAndFreesTheTieWhenItEnds) {
    struct Window {
        int touches = 0;
    };
    auto window = std::make_unique<Window>();
    using Tie = kelma::WorkerTie<Window, std::mutex>;
    auto* tie = new Tie(*window);
    tie->AddHolder();  // the worker's
    EXPECT_TRUE(tie->WithOwner([](Window& w) { ++w.touches; }));
    EXPECT_EQ(window->touches, 1);

    tie->LetGo();
    EXPECT_FALSE(tie->Drop()) << "the worker still holds it";
    window.reset();
    EXPECT_FALSE(tie->WithOwner([](Window& w) { ++w.touches; }));
    ASSERT_TRUE(tie->Drop()) << "the worker, ending, is the last";
    delete tie;
}

}  // namespace
