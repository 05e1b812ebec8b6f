// The receive worker's hold on the window, which the window can let go of without waiting for
// the worker: a worker whose I/O never ends is left behind, and the window may close meanwhile.
// The worker reaches the window only through WithOwner, under the tie's lock, so once LetGo has
// returned it never reaches the window again. Both sides hold the tie (and what the caller keeps
// in it: the port's handles) until each has dropped it; the last one frees it.
//
// Plain C++: Lock is any lockable (a critical section in the program, std::mutex in tests).
#pragma once

#include <atomic>
#include <mutex>

namespace kelma {

template <typename Owner, typename Lock>
class WorkerTie {
public:
    explicit WorkerTie(Owner& owner) : m_owner(&owner) {}
    WorkerTie(const WorkerTie&) = delete;
    WorkerTie& operator=(const WorkerTie&) = delete;

    // Worker: runs touch(owner) while the owner holds on; false once it has let go.
    template <typename Touch>
    bool WithOwner(Touch&& touch) {
        std::lock_guard<Lock> hold(m_lock);
        if (m_owner == nullptr) return false;
        touch(*m_owner);
        return true;
    }

    // Owner: waits for a touch in progress (a few stores, never a wait of its own).
    void LetGo() {
        std::lock_guard<Lock> hold(m_lock);
        m_owner = nullptr;
    }

    // Each holder adds itself before it holds the tie (the one who made it holds it already).
    void AddHolder() { m_holders.fetch_add(1); }
    // Each holder drops it once; true for the last, which frees the tie.
    bool Drop() { return m_holders.fetch_sub(1) == 1; }

private:
    Lock m_lock;
    Owner* m_owner;
    std::atomic<int> m_holders{1};
};

}  // namespace kelma
