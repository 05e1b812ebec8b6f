// kelma_probe: looks at the program's windows from the outside, as the end-to-end tests and the
// demo need it, and prints what it sees as JSON, one object per line.
//   kelma_probe windows [--title T]        the visible top-level windows with their controls
//   kelma_probe watch <ms> <count> [--title T]   the same, every <ms> milliseconds
//   kelma_probe ping <ms> <count> [--title T]    round trip of a sent WM_NULL to the window
//   kelma_probe ping <ms> <count> --desktop      the same to the desktop window, whose process
//                                                idles: what the machine's load alone costs
//   kelma_probe close [--title T]          what the close box does: WM_SYSCOMMAND SC_CLOSE
//   kelma_probe now                        the performance counter in microseconds
//   kelma_probe resources <pid>            the process's handle count and GDI/USER objects
// Texts are read with WM_GETTEXT (sent, so edit controls of another process answer too).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "framework/clock.h"

namespace {

constexpr char kDefaultTitle[] = "KelmaRotator";
constexpr UINT kSendTimeoutMs = 5000;
constexpr int kTextMax = 1024;
constexpr int kClassMax = 64;
constexpr int kComboItemsMax = 16;

// JSON string: control characters and bytes above 127 as \u00XX (the texts are 8-bit ANSI).
std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7f) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string Bool(bool value) {
    return value ? "true" : "false";
}

// Sends a message with a time-out, so that a hung window cannot hang the probe.
bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result) {
    return SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs,
                               result) != 0;
}

std::string Text(HWND window) {
    char buffer[kTextMax] = "";
    DWORD_PTR copied = 0;
    if (!Send(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer), &copied)) {
        return "";
    }
    return std::string(buffer, copied < sizeof buffer ? copied : 0);
}

std::string ClassName(HWND window) {
    char name[kClassMax] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string Rect(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    char text[96];
    snprintf(text, sizeof text, "[%ld,%ld,%ld,%ld]", r.left, r.top, r.right, r.bottom);
    return text;
}

// The client area's top-left corner and size, in screen coordinates.
std::string ClientRect(HWND window) {
    RECT r;
    GetClientRect(window, &r);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    char text[96];
    snprintf(text, sizeof text, "[%ld,%ld,%ld,%ld]", origin.x, origin.y, origin.x + r.right,
             origin.y + r.bottom);
    return text;
}

// Wine passes CB_GETLBTEXT between processes correctly only in its Unicode form.
std::string ComboItem(HWND combo, WPARAM index) {
    DWORD_PTR length = 0;
    Send(combo, CB_GETLBTEXTLEN, index, 0, &length);
    if (length >= kTextMax) return "";
    wchar_t wide[kTextMax] = L"";
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(wide),
                             SMTO_NORMAL, kSendTimeoutMs, &ignored)) {
        return "";
    }
    char item[kTextMax] = "";
    WideCharToMultiByte(CP_ACP, 0, wide, -1, item, sizeof item, nullptr, nullptr);
    return item;
}

std::string ComboDetails(HWND combo) {
    DWORD_PTR count = 0;
    DWORD_PTR selected = 0;
    Send(combo, CB_GETCOUNT, 0, 0, &count);
    Send(combo, CB_GETCURSEL, 0, 0, &selected);
    std::string items = "[";
    for (DWORD_PTR i = 0; i < count && i < kComboItemsMax; ++i) {
        items += (i ? "," : "") + Quote(ComboItem(combo, i));
    }
    return ",\"items\":" + items + "],\"selected\":" + std::to_string(static_cast<int>(selected));
}

std::string ControlJson(HWND control) {
    const std::string cls = ClassName(control);
    std::string json =
        "{\"id\":" + std::to_string(GetDlgCtrlID(control)) + ",\"class\":" + Quote(cls) +
        ",\"text\":" + Quote(Text(control)) + ",\"enabled\":" + Bool(IsWindowEnabled(control)) +
        ",\"visible\":" + Bool(IsWindowVisible(control)) + ",\"rect\":" + Rect(control);
    if (_stricmp(cls.c_str(), "Button") == 0) {
        DWORD_PTR checked = 0;
        Send(control, BM_GETCHECK, 0, 0, &checked);
        json += ",\"checked\":" + std::to_string(static_cast<int>(checked));
    } else if (_stricmp(cls.c_str(), "ComboBox") == 0) {
        json += ComboDetails(control);
    }
    return json + "}";
}

BOOL CALLBACK CollectChild(HWND child, LPARAM list) {
    // Direct children only: the combo box's own edit field belongs to the combo box.
    auto* controls = reinterpret_cast<std::vector<HWND>*>(list);
    if (GetParent(child) == controls->front()) controls->push_back(child);
    return TRUE;
}

std::string WindowJson(HWND window) {
    std::vector<HWND> controls{window};
    EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&controls));
    std::string children;
    for (size_t i = 1; i < controls.size(); ++i) {
        children += (i > 1 ? "," : "") + ControlJson(controls[i]);
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return "{\"hwnd\":" + std::to_string(reinterpret_cast<uintptr_t>(window)) +
           ",\"title\":" + Quote(Text(window)) + ",\"class\":" + Quote(ClassName(window)) +
           ",\"pid\":" + std::to_string(pid) + ",\"enabled\":" + Bool(IsWindowEnabled(window)) +
           ",\"foreground\":" + Bool(GetForegroundWindow() == window) +
           ",\"rect\":" + Rect(window) + ",\"client\":" + ClientRect(window) + ",\"controls\":[" +
           children + "]}";
}

struct TopLevelSearch {
    const char* title;  // nullptr: every visible top-level window of a dialog class
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<TopLevelSearch*>(parameter);
    if (!IsWindowVisible(window)) return TRUE;
    char title[kTextMax] = "";
    GetWindowTextA(window, title, sizeof title);
    const bool wanted =
        search->title ? strcmp(title, search->title) == 0 : ClassName(window) == "#32770";
    if (wanted) search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> FindWindows(const char* title) {
    TopLevelSearch search{title, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// {"t": microseconds, "windows": [...]}: every visible dialog window (the operator window, the
// About box, message boxes) or only those with the given title.
void PrintWindows(const char* title) {
    std::string list;
    for (HWND window : FindWindows(title)) list += (list.empty() ? "" : ",") + WindowJson(window);
    printf("{\"t\":%lld,\"windows\":[%s]}\n", static_cast<long long>(framework::NowMicroseconds()),
           list.c_str());
    fflush(stdout);
}

HWND MainWindow(const char* title) {
    return FindWindowA(nullptr, title ? title : kDefaultTitle);
}

// Each line: {"t": when sent, "us": round trip or -1 when the window did not answer}.
int Ping(int intervalMs, int count, const char* title, bool desktop) {
    for (int i = 0; i < count; ++i) {
        HWND window = desktop ? GetDesktopWindow() : MainWindow(title);
        const int64_t start = framework::NowMicroseconds();
        DWORD_PTR result = 0;
        const bool answered = window && Send(window, WM_NULL, 0, 0, &result);
        const int64_t took = answered ? framework::NowMicroseconds() - start : -1;
        printf("{\"t\":%lld,\"us\":%lld}\n", static_cast<long long>(start),
               static_cast<long long>(took));
        fflush(stdout);
        Sleep(intervalMs);
    }
    return 0;
}

int Close(const char* title) {
    HWND window = MainWindow(title);
    if (!window) return 1;
    return PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0) ? 0 : 1;
}

int Watch(int intervalMs, int count, const char* title) {
    for (int i = 0; i < count; ++i) {
        PrintWindows(title);
        Sleep(intervalMs);
    }
    return 0;
}

// One entry of the system's handle table (SystemHandleInformation), as Windows and Wine lay it out.
struct SystemHandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ULONG access;
};

struct SystemHandleTable {
    ULONG count;
    SystemHandleEntry handles[1];
};

// The process's handles as the system's handle table lists them: Wine answers
// GetProcessHandleCount with 0 but keeps this table.
long CountHandlesInSystemTable(DWORD pid) {
    using Query = LONG(WINAPI*)(int, PVOID, ULONG, PULONG);
    constexpr int kSystemHandleInformation = 16;
    constexpr LONG kLengthMismatch = static_cast<LONG>(0xC0000004);
    auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return -1;
    std::vector<char> buffer(1 << 16);
    LONG status;
    while ((status = query(kSystemHandleInformation, buffer.data(),
                           static_cast<ULONG>(buffer.size()), nullptr)) == kLengthMismatch) {
        buffer.resize(buffer.size() * 2);
    }
    if (status != 0) return -1;
    const auto* table = reinterpret_cast<const SystemHandleTable*>(buffer.data());
    long count = 0;
    for (ULONG i = 0; i < table->count; ++i) count += table->handles[i].ownerPid == pid;
    return count;
}

struct WindowCount {
    DWORD pid;
    long count;
};

BOOL CALLBACK CountWindow(HWND window, LPARAM parameter) {
    auto* counted = reinterpret_cast<WindowCount*>(parameter);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == counted->pid) {
        ++counted->count;
        EnumChildWindows(window, CountWindow, parameter);
    }
    return TRUE;
}

std::string Count(long value) {
    return value > 0 ? std::to_string(value) : "null";
}

// {"handles": n, "gdi": n, "user": n, "windows": n}; null where the system does not count (Wine
// keeps no GDI or USER object counts), so that "not counted" never reads as "none". The windows
// of the process stand in for its USER objects there.
int Resources(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (!process) return 1;
    DWORD handles = 0;
    if (!GetProcessHandleCount(process, &handles)) handles = 0;
    const long gdi = static_cast<long>(GetGuiResources(process, GR_GDIOBJECTS));
    const long user = static_cast<long>(GetGuiResources(process, GR_USEROBJECTS));
    CloseHandle(process);
    WindowCount windows{pid, 0};
    EnumWindows(CountWindow, reinterpret_cast<LPARAM>(&windows));
    const long handleCount = handles ? static_cast<long>(handles) : CountHandlesInSystemTable(pid);
    printf("{\"handles\":%s,\"gdi\":%s,\"user\":%s,\"windows\":%s}\n", Count(handleCount).c_str(),
           Count(gdi).c_str(), Count(user).c_str(), Count(windows.count).c_str());
    fflush(stdout);
    return 0;
}

bool HasOption(int argc, char** argv, const char* option) {
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], option) == 0) return true;
    }
    return false;
}

const char* TitleOption(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (strcmp(argv[i], "--title") == 0) return argv[i + 1];
    }
    return nullptr;
}

int Usage() {
    fprintf(stderr,
            "usage: kelma_probe windows|close|now [--title T]\n"
            "       kelma_probe resources <pid>\n"
            "       kelma_probe watch|ping <ms> <count> [--title T] [--desktop]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    const char* title = TitleOption(argc, argv);
    if (command == "windows") {
        PrintWindows(title);
        return 0;
    }
    if (command == "close") return Close(title);
    if (command == "now") {
        printf("%lld\n", static_cast<long long>(framework::NowMicroseconds()));
        return 0;
    }
    if (command == "resources" && argc >= 3) return Resources(strtoul(argv[2], nullptr, 10));
    if ((command == "watch" || command == "ping") && argc >= 4) {
        const int intervalMs = atoi(argv[2]);
        const int count = atoi(argv[3]);
        return command == "watch"
                   ? Watch(intervalMs, count, title)
                   : Ping(intervalMs, count, title, HasOption(argc, argv, "--desktop"));
    }
    return Usage();
}
