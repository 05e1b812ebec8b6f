#include "feed/event_log.h"

#include <cstdarg>

#include "framework/clock.h"

namespace kelmafeed {

EventLog::EventLog(FILE* out) : m_out(out) {
    InitializeCriticalSection(&m_lock);
}

EventLog::~EventLog() {
    DeleteCriticalSection(&m_lock);
}

void EventLog::Line(const char* format, ...) {
    if (m_out == nullptr) return;
    EnterCriticalSection(&m_lock);
    fprintf(m_out, "%lld ", static_cast<long long>(framework::NowMicroseconds()));
    va_list args;
    va_start(args, format);
    vfprintf(m_out, format, args);
    va_end(args);
    fputc('\n', m_out);
    fflush(m_out);
    LeaveCriticalSection(&m_lock);
}

}  // namespace kelmafeed
