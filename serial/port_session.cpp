#include "serial/port_session.h"

WriteRecord::WriteRecord() : OVERLAPPED{} {
    hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

WriteRecord::~WriteRecord() {
    if (hEvent != nullptr) CloseHandle(hEvent);
}

PortSession::PortSession(CRotatorDlg& dialog, HANDLE port, HWND notifyWindow)
    : tie(dialog),
      stopEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      window(notifyWindow),
      m_port(port) {}

PortSession::~PortSession() {
    ClosePort();
    if (stopEvent != nullptr) CloseHandle(stopEvent);
    // With the port closed, a driver that ends its requests has ended these. One that still
    // holds a record may yet write into it: that one is left allocated.
    for (std::unique_ptr<WriteRecord>& write : m_givenUpWrites)
        if (WaitForSingleObject(write->hEvent, 0) != WAIT_OBJECT_0) write.release();
}

void PortSession::ClosePort() {
    const HANDLE port = m_port.exchange(INVALID_HANDLE_VALUE);
    if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
}

void PortSession::HandOver(std::unique_ptr<WriteRecord> write) {
    m_givenUpWrites.push_back(std::move(write));
}

void PortSession::Drop(PortSession* session) {
    if (session != nullptr && session->tie.Drop()) delete session;
}
