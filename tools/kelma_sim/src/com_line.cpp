#include "com_line.h"

#include "serial/win32_port.h"

namespace kelma {

namespace {

// Writes go out in pieces of about a second of the line each, so that one bound fits them all.
constexpr size_t kWritePieceBytes = 1024;
constexpr uint32_t kPieceBoundMs = 3000;
constexpr serial::WriteBounds kPieceWriteBounds = {kPieceBoundMs, kPieceBoundMs, 500};
constexpr uint32_t kPurgeBoth = serial::kPurgeRxClear | serial::kPurgeTxClear;

}  // namespace

ComLine::ComLine() : received_event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

std::unique_ptr<ComLine> ComLine::Open(const std::string& name, std::string* error) {
    std::unique_ptr<ComLine> line(new ComLine);
    if (line->received_event_ == nullptr) {
        *error = "CreateEvent failed, error " + std::to_string(GetLastError());
        return nullptr;
    }
    // The device namespace form also reaches COM10 and above.
    const serial::PortSettings settings = {
        "\\\\.\\" + name, kPieceBoundMs, kPieceWriteBounds, kPurgeBoth, {}};
    const serial::OpenResult opened =
        line->port_.Open(std::make_unique<serial::Win32Port>(), *line, nullptr, settings);
    if (!opened.ok) {
        *error = "opening " + name + " failed, error " + std::to_string(opened.error);
        return nullptr;
    }
    return line;
}

ComLine::~ComLine() {
    port_.Close();
    if (received_event_ != nullptr) CloseHandle(received_event_);
}

void ComLine::Write(std::string_view bytes) {
    for (size_t at = 0; at < bytes.size(); at += kWritePieceBytes)
        if (port_.Write(bytes.substr(at, kWritePieceBytes)) != serial::WriteOutcome::kTaken) return;
}

void ComLine::Purge() {
    port_.Purge(kPurgeBoth);
}

std::string ComLine::ReadAvailable() {
    std::lock_guard<std::mutex> hold(lock_);
    ResetEvent(received_event_);
    std::string bytes;
    bytes.swap(received_);
    return bytes;
}

bool ComLine::Store(const char* bytes, size_t count) {
    std::lock_guard<std::mutex> hold(lock_);
    received_.append(bytes, count);
    if (!received_.empty()) SetEvent(received_event_);
    return false;
}

}  // namespace kelma
