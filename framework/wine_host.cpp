#include "framework/wine_host.h"

#include <windows.h>

namespace framework {

// Wine's ntdll exports wine_get_version; Windows' does not.
bool RunningOnWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Wine draws a themed scroll bar by opening the theme's scroll bar class and blitting its
// bitmaps at each draw, and an edit control redraws its scroll bar at every change of its text:
// the traffic log paid 10 to 40 ms a line for it, against under 1 ms unthemed. Wine's theme
// reaches scroll bars and window frames only through the user32 hook its uxtheme registers;
// without that hook they are drawn plainly, and the controls keep their themed look.
void DrawScrollBarsUnthemedUnderWine() {
    if (!RunningOnWine()) return;
    using UnregisterHookFn = BOOL(WINAPI*)();
    const FARPROC found = GetProcAddress(GetModuleHandleA("user32.dll"), "UnregisterUserApiHook");
    // Through void(*)(): the one function type GCC lets a cast match with any other.
    const auto unregisterHook =
        reinterpret_cast<UnregisterHookFn>(reinterpret_cast<void (*)()>(found));
    if (unregisterHook != nullptr) unregisterHook();
}

}  // namespace framework
