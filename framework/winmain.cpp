// The program's entry point hands over to the framework's entry routine.
#include "framework/framework.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return framework::AfxWinMain(instance);
}
