/* Keeps a harness session's desktop for the session's whole life.
 *
 * Wine starts its desktop process (explorer.exe /desktop) for the first program that needs the
 * desktop window, handing it that program's standard handles, and ends it a second after the
 * last program using the desktop has ended. Left to the tests, a test's program would start it,
 * and it would hold that test's output pipe open long after the test, so a runner reading the
 * pipe (CTest) would wait for it. harness_start runs this program first, with the session's log
 * as its output, and it never ends by itself (harness_stop ends it with the session): the
 * desktop process starts once, from here, and stays. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    static const char ready[] = "desktop ready\n";
    DWORD written = 0;
    GetDesktopWindow(); /* starts the desktop process and waits for its window */
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), ready, sizeof ready - 1, &written, NULL);
    Sleep(INFINITE);
    return 0;
}
