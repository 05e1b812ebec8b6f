// When a double-click on the operator window opens the About box. Windows' DDE library lets input
// through while the tracking link's Connect waits for the prediction program: a box opened then
// would run Connect's rest nested in its loop, so the request waits (on a timer) for Connect to
// return. The box's modal loop keeps dispatching the window's timers, so a request still waiting
// when another double-click has opened the box must open no second box inside the first.
#pragma once

namespace ui {

enum class AboutAction { kNone, kShow, kWait };

class AboutRequests {
public:
    // A double-click: kShow, or kWait (start the timer) while inside Connect.
    AboutAction OnDoubleClick(bool inConnect) {
        if (m_open) return AboutAction::kNone;
        m_waiting = inConnect;
        return inConnect ? AboutAction::kWait : AboutAction::kShow;
    }
    // A tick of the timer: kWait keeps it; otherwise stop it, and show the box for kShow.
    AboutAction OnTick(bool inConnect) {
        if (m_waiting && inConnect) return AboutAction::kWait;
        const bool show = m_waiting && !m_open;
        m_waiting = false;
        return show ? AboutAction::kShow : AboutAction::kNone;
    }
    void Opened() {
        m_open = true;
        m_waiting = false;  // a waiting request has its box
    }
    void Closed() { m_open = false; }

private:
    bool m_open = false;
    bool m_waiting = false;
};

}  // namespace ui
