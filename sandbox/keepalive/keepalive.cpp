// Keeps a Wine session alive for a whole test or demo run, so that Wine's background processes
// start once, detached from any test's output pipes. Ends when the "Orvella Sandbox Keepalive
// Stop" event is set, or after an hour at most. It makes (and at once destroys) one window, so that
// Wine's desktop process starts here too, with this program's environment, rather than under
// whichever test first opens a window.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, "Orvella Sandbox Keepalive Stop");
    if (HWND window = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr))
        DestroyWindow(window);
    WaitForSingleObject(stop, 60 * 60 * 1000);
    CloseHandle(stop);
    return 0;
}
