// Keeps a Wine session alive for a whole test or demo run, so that Wine's background processes
// start once, detached from any test's output pipes. Ends when the "Orvella Sandbox Keepalive
// Stop" event is set, or after an hour at most.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, "Orvella Sandbox Keepalive Stop");
    WaitForSingleObject(stop, 60 * 60 * 1000);
    CloseHandle(stop);
    return 0;
}
