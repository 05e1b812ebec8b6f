#include "tests/win/support/write_watch.h"

#include <mutex>
#include <utility>

namespace testing_support {

namespace {

using WriteFileFunction = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);

struct Recorder {
    std::mutex lock;  // the window's thread writes; others may too
    std::vector<TimedWrite> writes;
    WriteFileFunction original = nullptr;
};

Recorder& TheRecorder() {
    static Recorder recorder;
    return recorder;
}

BOOL WINAPI RecordedWriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written,
                              LPOVERLAPPED overlapped) {
    Recorder& recorder = TheRecorder();
    const int64_t start = WriteWatch::NowMicros();
    const BOOL result = recorder.original(file, buffer, size, written, overlapped);
    // The caller reads the write's own error (ERROR_IO_PENDING) after this returns.
    const DWORD error = GetLastError();
    TimedWrite write{start, WriteWatch::NowMicros(),
                     buffer ? std::string(static_cast<const char*>(buffer), size) : ""};
    {
        std::lock_guard<std::mutex> hold(recorder.lock);
        recorder.writes.push_back(std::move(write));
    }
    SetLastError(error);
    return result;
}

// The entry of this program's import table through which its calls of the function go.
FARPROC* ImportSlotOf(FARPROC function) {
    BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (function == nullptr || imports.VirtualAddress == 0) return nullptr;
    for (auto* module =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         module->Name != 0; ++module) {
        for (auto* entry = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
             entry->u1.Function != 0; ++entry) {
            if (reinterpret_cast<FARPROC>(entry->u1.Function) == function)
                return reinterpret_cast<FARPROC*>(&entry->u1.Function);
        }
    }
    return nullptr;
}

bool PointSlot(FARPROC* slot, FARPROC target) {
    DWORD protection = 0;
    if (!VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &protection)) return false;
    *slot = target;
    VirtualProtect(slot, sizeof(*slot), protection, &protection);  // back as it was, or left open
    return true;
}

}  // namespace

WriteWatch::WriteWatch() {
    const FARPROC writeFile = GetProcAddress(GetModuleHandleA("kernel32.dll"), "WriteFile");
    FARPROC* slot = ImportSlotOf(writeFile);
    if (slot == nullptr) return;
    Recorder& recorder = TheRecorder();
    {
        std::lock_guard<std::mutex> hold(recorder.lock);
        recorder.writes.clear();
    }
    // Through void(*)(): the one function type GCC lets a cast match with any other.
    recorder.original =
        reinterpret_cast<WriteFileFunction>(reinterpret_cast<void (*)()>(writeFile));
    const auto recorded =
        reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&RecordedWriteFile));
    if (PointSlot(slot, recorded)) {
        m_slot = slot;
        m_original = writeFile;
    }
}

WriteWatch::~WriteWatch() {
    if (m_slot != nullptr) PointSlot(m_slot, m_original);
}

std::vector<TimedWrite> WriteWatch::Writes() const {
    Recorder& recorder = TheRecorder();
    std::lock_guard<std::mutex> hold(recorder.lock);
    return recorder.writes;
}

int64_t WriteWatch::NowMicros() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return count.QuadPart / frequency.QuadPart * 1000000 +
           count.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart;
}

}  // namespace testing_support
