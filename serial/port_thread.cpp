#include "serial/port_thread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "serial/overlapped_op.h"
#include "serial/receive_passes.h"
#include "serial/worker_tie.h"

namespace serial {
namespace {

constexpr uint32_t kRetryPauseMs = 50;  // the pass pause of receive_passes.h
// How long the I/O thread gives a receive operation of its own to end once it has cancelled it.
constexpr uint32_t kReceiveCancelGraceMs = 2000;
// Closing keeps output the port has already taken: a command counts as sent once the port has
// it, and its bytes may still sit in a USB adapter's buffer (or, under Wine, in the pty). Wine
// turns PURGE_TXABORT into a transmit flush too, so neither transmit flag is passed, unless the
// port has stopped taking bytes: closing its handle could then wait for a queue that never drains.
constexpr uint32_t kPurgeOnClose = kPurgeRxAbort | kPurgeRxClear;
constexpr uint32_t kPurgeOnStalledClose = kPurgeOnClose | kPurgeTxAbort | kPurgeTxClear;

uint32_t NowMs() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

struct PortThread::Session {
    Session(std::unique_ptr<PortDriver> portDriver, PortSink& sink,
            std::function<void()> notification, const PortSettings& portSettings)
        : driver(std::move(portDriver)),
          tie(sink),
          notify(std::move(notification)),
          settings(portSettings) {}

    template <typename Done>
    bool WaitUntil(uint32_t ms, Done done) {
        std::unique_lock<std::mutex> hold(lock);
        return changed.wait_for(hold, std::chrono::milliseconds(ms), done);
    }
    void Answer() { changed.notify_all(); }
    void RequestStop() {
        {
            std::lock_guard<std::mutex> hold(lock);
            stop = true;
        }
        changed.notify_all();
        driver->Wake();
    }
    bool Ended() const { return ioEnded && (!notify || notifierEnded); }

    const std::unique_ptr<PortDriver> driver;
    WorkerTie<PortSink, std::mutex> tie;
    const std::function<void()> notify;
    const PortSettings settings;

    std::mutex lock;
    std::condition_variable changed;  // an answer, a notification's start or end, a thread's end
    // The caller's request: one at a time, answered in turn.
    enum class Ask { kNone, kWrite, kPurge } ask = Ask::kNone;
    std::string bytes;
    uint32_t purgeFlags = 0;
    uint64_t asked = 0;
    uint64_t answered = 0;
    WriteOutcome written = WriteOutcome::kRefused;
    bool purged = false;
    bool openAnswered = false;
    OpenResult opened{false, 0};
    // The notifier's words: a stored block waits for its notification; the notification ran.
    bool notifyPending = false;
    bool notifyDone = false;

    std::atomic<bool> stop{false};
    std::atomic<bool> ioEnded{false};    // the port is closed
    std::atomic<bool> lingering{false};  // and the I/O thread waits for the driver to let go
    std::atomic<bool> notifierEnded{false};
};

namespace {

using Session = PortThread::Session;

// The I/O thread: opens the port, receives until the stop, serves the caller's requests in
// every wait, closes the port and waits for the driver to give back every record.
class IoThread {
public:
    explicit IoThread(Session& session)
        : m_session(session), m_driver(*session.driver), m_writer(session.settings.writes) {}

    void Run() {
        const bool opened = Open();
        {
            std::lock_guard<std::mutex> hold(m_session.lock);
            m_session.openAnswered = true;
            m_session.opened = {opened, opened ? 0u : m_driver.Error()};
        }
        m_session.Answer();
        if (opened) {
            ReceivePasses<IoThread>(*this).Run();
            m_driver.Purge(m_writer.Stalled() ? kPurgeOnStalledClose : kPurgeOnClose);
        }
        m_driver.Close();
        // The port is closed: the caller may go on. What the driver still holds is waited for
        // here, and the session freed only after it.
        m_session.lingering =
            m_waitRecord.InFlight() || m_readRecord.InFlight() || m_writer.InFlight();
        m_session.ioEnded = true;
        m_session.Answer();
        Release();
    }

    // The port of receive_passes.h.
    PortWait WaitForCharacters() {
        size_t unused = 0;
        bool waitFailed = false;
        const OpEnd end = RunReceiveOp(PortRecord::kWait, waitFailed, unused);
        // The cancel of a failed wait changed the event mask: receiving goes on.
        if (waitFailed) m_driver.SetMask(kEventRxChar);
        if (end == OpEnd::kStopped) return PortWait::kStopped;
        if (end != OpEnd::kDone) return Failed(PortWait::kFailed);
        return (m_driver.WaitEvents() & kEventRxChar) ? PortWait::kCharacters
                                                      : PortWait::kOtherEvent;
    }
    bool QueuedBytes(size_t& queued) { return m_driver.ClearErrors(queued) || Failed(false); }
    PortIo Read(size_t wanted, size_t& count) {
        m_readCount = wanted;
        bool waitFailed = false;
        const OpEnd end = RunReceiveOp(PortRecord::kRead, waitFailed, count);
        if (end == OpEnd::kDone) return PortIo::kDone;
        return end == OpEnd::kStopped ? PortIo::kStopped : Failed(PortIo::kFailed);
    }
    void Deliver(size_t count) {
        bool notify = false;
        m_session.tie.WithOwner(
            [&](PortSink& sink) { notify = sink.Store(m_driver.ReadBuffer(), count); });
        if (notify && m_session.notify) NotifyAndHold();
    }
    bool StopRequested() const { return m_session.stop; }
    void Pause() {
        if (m_driver.WaitForWake(kRetryPauseMs)) Serve();
    }

    // The Io of overlapped_op.h for the receive operations: their waits have no bound and
    // serve the caller's requests meanwhile.
    class ReceiveOp {
    public:
        ReceiveOp(IoThread& thread, PortRecord record, bool& waitFailed)
            : m_thread(thread), m_record(record), m_waitFailed(waitFailed) {}
        bool Start() {
            PortDriver& driver = m_thread.m_driver;
            return m_record == PortRecord::kWait ? driver.StartWait()
                                                 : driver.StartRead(m_thread.m_readCount);
        }
        bool StartedPending() const { return m_thread.m_driver.Pending(); }
        OpWait Wait(uint32_t) {
            const OpWait waited = m_thread.WaitServing(m_record);
            if (waited == OpWait::kFailed) m_waitFailed = true;
            return waited;
        }
        bool Settle(uint32_t ms) { return m_thread.m_driver.Settle(m_record, ms); }
        // An event wait is ended by the mask change too: Wine's cancel does not end it.
        void Cancel() {
            if (m_record == PortRecord::kWait) m_thread.m_driver.SetMask(kEventStop);
            m_thread.m_driver.Cancel(m_record);
        }
        bool Finished(size_t& count) { return m_thread.m_driver.Finished(m_record, count); }

    private:
        IoThread& m_thread;
        PortRecord m_record;
        bool& m_waitFailed;
    };

    // The Io and Port of command_write.h for one write: its waits are for the write alone.
    class WriteOp {
    public:
        WriteOp(PortDriver& driver, const std::string& bytes) : m_driver(driver), m_bytes(bytes) {}
        bool Start() { return m_driver.StartWrite(m_bytes); }
        bool StartedPending() const { return m_driver.Pending(); }
        OpWait Wait(uint32_t ms) { return Settle(ms) ? OpWait::kFinished : OpWait::kTimedOut; }
        bool Settle(uint32_t ms) { return m_driver.Settle(PortRecord::kWrite, ms); }
        void Cancel() { m_driver.Cancel(PortRecord::kWrite); }
        bool Finished(size_t& count) { return m_driver.Finished(PortRecord::kWrite, count); }
        size_t Size() const { return m_bytes.size(); }
        void ClearErrors() {
            size_t queued = 0;
            m_driver.ClearErrors(queued);  // only clears the error state
        }

    private:
        PortDriver& m_driver;
        const std::string& m_bytes;
    };

private:
    bool Open() {
        const PortSettings& settings = m_session.settings;
        return m_driver.Open(settings.device) && m_driver.SetLine(settings.writeTimeoutMs) &&
               m_driver.SetMask(kEventRxChar) &&
               (settings.purgeOnOpen == 0 || m_driver.Purge(settings.purgeOnOpen));
    }

    // Tells the sink that receiving failed; returns what the failed step returns.
    template <typename Result>
    Result Failed(Result result) {
        m_session.tie.WithOwner([](PortSink& sink) { sink.ReceiveFailed(); });
        return result;
    }

    OpEnd RunReceiveOp(PortRecord record, bool& waitFailed, size_t& count) {
        OverlappedRecord& tracked = record == PortRecord::kWait ? m_waitRecord : m_readRecord;
        ReceiveOp op(*this, record, waitFailed);
        return tracked.Run(op, kNoBound, kReceiveCancelGraceMs, count);
    }

    // Until the record's operation ends or the stop comes, serving requests as they come.
    OpWait WaitServing(PortRecord record) {
        for (;;) {
            if (m_session.stop) return OpWait::kStopped;
            switch (m_driver.WaitFor(record, kNoBound)) {
                case PortWoke::kRecord:
                    return OpWait::kFinished;
                case PortWoke::kWake:
                    Serve();
                    break;
                default:
                    return OpWait::kFailed;
            }
        }
    }

    void Serve() {
        Session::Ask ask = Session::Ask::kNone;
        uint64_t id = 0;
        std::string bytes;
        uint32_t flags = 0;
        {
            std::lock_guard<std::mutex> hold(m_session.lock);
            std::swap(ask, m_session.ask);
            id = m_session.asked;
            bytes.swap(m_session.bytes);
            flags = m_session.purgeFlags;
        }
        if (ask == Session::Ask::kNone) return;
        WriteOutcome written = WriteOutcome::kRefused;
        bool purged = false;
        if (ask == Session::Ask::kWrite) {
            WriteOp op(m_driver, bytes);
            written = m_writer.Write(op);
        } else {
            purged = m_driver.Purge(flags);
        }
        {
            std::lock_guard<std::mutex> hold(m_session.lock);
            m_session.answered = id;
            m_session.written = written;
            m_session.purged = purged;
        }
        m_session.Answer();
    }

    // The notifier runs the notification; nothing more is read until it has returned.
    void NotifyAndHold() {
        {
            std::lock_guard<std::mutex> hold(m_session.lock);
            m_session.notifyPending = true;
            m_session.notifyDone = false;
        }
        m_session.Answer();
        for (;;) {
            {
                std::lock_guard<std::mutex> hold(m_session.lock);
                if (m_session.notifyDone) return;
            }
            if (m_session.stop) return;
            if (m_driver.WaitForWake(kNoBound)) Serve();
        }
    }

    // What a cancel left with the driver is freed only once the driver has let go of it:
    // closing the port ends it with a driver that ends its requests, and not before with one
    // that does not.
    void Release() {
        if (m_waitRecord.InFlight() && m_driver.Settle(PortRecord::kWait, kNoBound))
            m_waitRecord.Ended();
        if (m_readRecord.InFlight() && m_driver.Settle(PortRecord::kRead, kNoBound))
            m_readRecord.Ended();
        if (m_writer.InFlight() && m_driver.Settle(PortRecord::kWrite, kNoBound)) m_writer.Ended();
    }

    Session& m_session;
    PortDriver& m_driver;
    CommandWriter m_writer;
    OverlappedRecord m_waitRecord;
    OverlappedRecord m_readRecord;
    size_t m_readCount = 0;
};

void RunIoThread(std::shared_ptr<Session> session) {
    IoThread(*session).Run();
}

void RunNotifier(std::shared_ptr<Session> session) {
    std::unique_lock<std::mutex> hold(session->lock);
    for (;;) {
        session->changed.wait(hold, [&] { return session->notifyPending || session->stop; });
        // A block stored before the stop is still told: the caller lets it through.
        if (!session->notifyPending) break;
        hold.unlock();
        session->notify();
        hold.lock();
        session->notifyPending = false;
        session->notifyDone = true;
        session->driver->Wake();
    }
    hold.unlock();
    session->notifierEnded = true;
    session->Answer();
}

// WaitForWorkerEnd's worker: the caller's own wait, and the session's word on the ends.
class EndWatch {
public:
    EndWatch(CloseWait& wait, const Session& session) : m_wait(wait), m_session(session) {}
    uint32_t Now() const { return NowMs(); }
    bool Ended() const { return m_session.Ended(); }
    WorkerWait Wait(uint32_t ms) { return m_wait.Wait(ms); }
    void Pause(uint32_t ms) { m_wait.Pause(ms); }
    void LetSentMessagesThrough() { m_wait.LetSentMessagesThrough(); }

private:
    CloseWait& m_wait;
    const Session& m_session;
};

}  // namespace

std::vector<bool> ProbePorts(const std::vector<std::string>& devices,
                             const std::function<std::unique_ptr<PortDriver>()>& makeDriver,
                             uint32_t boundMs) {
    struct Answers {
        std::mutex lock;
        std::condition_variable changed;
        std::vector<int> found;  // -1 until answered, then 0 or 1
        size_t answered = 0;
    };
    auto answers = std::make_shared<Answers>();
    answers->found.assign(devices.size(), -1);
    std::vector<std::thread> probes;
    for (size_t i = 0; i < devices.size(); ++i) {
        probes.emplace_back([answers, i, device = devices[i], driver = makeDriver()] {
            const bool found = driver->Probe(device);
            std::lock_guard<std::mutex> hold(answers->lock);
            answers->found[i] = found ? 1 : 0;
            ++answers->answered;
            answers->changed.notify_all();
        });
    }
    std::unique_lock<std::mutex> hold(answers->lock);
    answers->changed.wait_for(hold, std::chrono::milliseconds(boundMs),
                              [&] { return answers->answered == devices.size(); });
    std::vector<bool> found;
    for (size_t i = 0; i < devices.size(); ++i) {
        found.push_back(answers->found[i] == 1);
        // An answered probe is past its last use of the driver: its end is at hand.
        if (answers->found[i] >= 0) {
            hold.unlock();
            probes[i].join();
            hold.lock();
        } else {
            probes[i].detach();
        }
    }
    return found;
}

PortThread::PortThread() = default;

PortThread::~PortThread() {
    Close();
}

OpenResult PortThread::Open(std::unique_ptr<PortDriver> driver, PortSink& sink,
                            std::function<void()> notify, const PortSettings& settings) {
    if (m_session != nullptr) return {false, 0};
    m_session = std::make_shared<Session>(std::move(driver), sink, std::move(notify), settings);
    Session& session = *m_session;
    m_io = std::thread(RunIoThread, m_session);
    if (session.notify) m_notifier = std::thread(RunNotifier, m_session);
    if (!session.WaitUntil(settings.bounds.openMs, [&] { return session.openAnswered; })) {
        LeaveBehind();  // the driver holds the thread; it ends once it comes back
        return {false, kOpenTimedOut};
    }
    const OpenResult result = session.opened;
    if (!result.ok) Close();
    return result;
}

WriteOutcome PortThread::Write(std::string_view bytes) {
    if (m_session == nullptr || m_failed) return WriteOutcome::kRefused;
    Session& session = *m_session;
    uint64_t id = 0;
    {
        std::lock_guard<std::mutex> hold(session.lock);
        session.ask = Session::Ask::kWrite;
        session.bytes.assign(bytes.data(), bytes.size());
        id = ++session.asked;
    }
    session.driver->Wake();
    // The I/O thread's own bounds, and one driver call (clearing the errors) beside.
    const WriteBounds& writes = session.settings.writes;
    const uint32_t bound = writes.takenMs + writes.graceMs + session.settings.bounds.callMs;
    if (!session.WaitUntil(bound, [&] { return session.answered >= id; })) {
        m_failed = true;
        return WriteOutcome::kGivenUp;
    }
    std::lock_guard<std::mutex> hold(session.lock);
    if (session.written == WriteOutcome::kGivenUp) m_failed = true;
    return session.written;
}

bool PortThread::Purge(uint32_t flags) {
    if (m_session == nullptr || m_failed) return false;
    Session& session = *m_session;
    uint64_t id = 0;
    {
        std::lock_guard<std::mutex> hold(session.lock);
        session.ask = Session::Ask::kPurge;
        session.purgeFlags = flags;
        id = ++session.asked;
    }
    session.driver->Wake();
    if (!session.WaitUntil(session.settings.bounds.callMs,
                           [&] { return session.answered >= id; })) {
        m_failed = true;
        return false;
    }
    std::lock_guard<std::mutex> hold(session.lock);
    return session.purged;
}

bool PortThread::Close(CloseWait* wait) {
    if (m_session == nullptr) return true;
    Session& session = *m_session;
    session.RequestStop();
    const uint32_t bound = session.settings.bounds.closeMs;
    bool ended = false;
    if (wait != nullptr) {
        EndWatch watch(*wait, session);
        ended = WaitForWorkerEnd(watch, bound) == WorkerEnd::kEnded;
    } else {
        ended = session.WaitUntil(bound, [&] { return session.Ended(); });
    }
    m_failed = false;
    if (!ended || session.lingering) {
        LeaveBehind();
        return ended;
    }
    m_io.join();
    if (m_notifier.joinable()) m_notifier.join();
    m_session.reset();
    return true;
}

void PortThread::LeaveBehind() {
    m_session->RequestStop();
    m_session->tie.LetGo();
    m_io.detach();
    if (m_notifier.joinable()) m_notifier.detach();
    m_session.reset();
}

}  // namespace serial
