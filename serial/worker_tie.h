// A port thread's hold on what receives its bytes (the window's ring, kelmarotd's socket pair),
// which the owner can let go of without waiting for the thread: a thread whose I/O never ends
// is left behind, and its owner may go meanwhile. The thread reaches the owner only through
// WithOwner, under the tie's lock, so once LetGo has returned it never reaches the owner again.
//
// Plain C++: Lock is any lockable.
#pragma once

#include <mutex>

namespace serial {

template <typename Owner, typename Lock>
class WorkerTie {
public:
    explicit WorkerTie(Owner& owner) : m_owner(&owner) {}
    WorkerTie(const WorkerTie&) = delete;
    WorkerTie& operator=(const WorkerTie&) = delete;

    // Thread: runs touch(owner) while the owner holds on; false once it has let go.
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

private:
    Lock m_lock;
    Owner* m_owner;
};

}  // namespace serial
