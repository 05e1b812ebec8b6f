// Prediction-server simulator: offers the DDE service "WinOrbit" with the topic "TrackingInfo"
// and the items "AzEl" and "SatelliteName" in CF_TEXT, driven by a script. With
// --documented-items it offers "AzimuthDegrees" and "ElevationDegrees" instead of "AzEl"; with
// --as it plays the driver feed of Orbitron or SatPC32 instead; with --ddeml it serves through
// the DDE library, as those programs do, instead of speaking the message protocol itself.
// Usage: predsim [--as winorbit|orbitron|satpc32] [--ddeml] [--unregistered]
//                [--documented-items] [--log <file>] [<script-file>]
// Without a script file it reads standard input. Events go to standard output (or the log file),
// one line each: "<microseconds> <event> ...".
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "feed/event_log.h"
#include "tools/predsim/ddeml_server.h"
#include "tools/predsim/script.h"

namespace {

constexpr char kUiClass[] = "PredSimControl";
constexpr UINT kScriptEnded = WM_APP + 2;

struct Options {
    predsim::Program program = predsim::Program::kWinOrbit;
    bool valid = true;
    bool registered = true;
    bool documentedItems = false;
    bool ddeml = false;
    const char* logPath = nullptr;
    const char* scriptPath = nullptr;
};

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--unregistered") == 0) {
            options.registered = false;
        } else if (strcmp(argv[i], "--documented-items") == 0) {
            options.documentedItems = true;
        } else if (strcmp(argv[i], "--ddeml") == 0) {
            options.ddeml = true;
        } else if (strcmp(argv[i], "--as") == 0 && i + 1 < argc) {
            const std::optional<predsim::Program> program = predsim::ProgramNamed(argv[++i]);
            options.valid = options.valid && program.has_value();
            if (program) options.program = *program;
        } else if (strcmp(argv[i], "--log") == 0 && i + 1 < argc) {
            options.logPath = argv[++i];
        } else {
            options.scriptPath = argv[i];
        }
    }
    // The documented items are the prediction program's.
    options.valid = options.valid &&
                    !(options.documentedItems && options.program != predsim::Program::kWinOrbit);
    return options;
}

LRESULT CALLBACK UiProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == predsim::Script::kRunOnUiMessage) {
        predsim::Script::RunOnUiHandler(lParam);
        return 0;
    }
    if (message == kScriptEnded) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateUiWindow() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = UiProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kUiClass;
    RegisterClassA(&wc);
    // Message-only: it never receives broadcasts meant for DDE windows.
    return CreateWindowA(kUiClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

struct Worker {
    predsim::Script* script;
    HWND ui;
};

DWORD WINAPI RunScript(LPVOID parameter) {
    Worker* worker = static_cast<Worker*>(parameter);
    worker->script->Run();
    PostMessageA(worker->ui, kScriptEnded, 0, 0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    if (!options.valid) {
        fprintf(stderr,
                "predsim: --as takes winorbit, orbitron or satpc32; --documented-items goes "
                "with winorbit only\n");
        return 2;
    }
    FILE* out = options.logPath ? fopen(options.logPath, "w") : stdout;
    FILE* in = options.scriptPath ? fopen(options.scriptPath, "r") : stdin;
    if (out == nullptr || in == nullptr) {
        fprintf(stderr, "predsim: cannot open %s\n", out ? options.scriptPath : options.logPath);
        return 2;
    }
    kelmafeed::EventLog log(out);
    HWND ui = CreateUiWindow();
    const predsim::ProgramNames& names = predsim::NamesOf(options.program);
    std::unique_ptr<predsim::ScriptedServer> server;
    if (options.ddeml) {
        server = std::make_unique<predsim::DdemlServer>(names.service, names.topic, log);
    } else {
        server = std::make_unique<predsim::MessageServer>(names.service, names.topic, log);
    }
    if (options.registered) server->Register();
    log.Line("ready");

    predsim::Script script(in, ui, *server, log, options.program);
    if (options.documentedItems) script.UseDocumentedItems();
    Worker worker{&script, ui};
    HANDLE thread = CreateThread(nullptr, 0, RunScript, &worker, 0, nullptr);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return 0;
}
