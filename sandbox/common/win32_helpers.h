// Win32 helpers shared by the stand-ins, the test rig and the benchmarks, and the names by which
// the module meets the world outside it (the host stand-in's injection is sandbox/host).
#ifndef ORVL_SANDBOX_COMMON_WIN32_HELPERS_H
#define ORVL_SANDBOX_COMMON_WIN32_HELPERS_H

#include <windows.h>

namespace sandbox {

const char ModuleFileName[] = "OrvlHook.dll";
const char HostInjectedEventName[] = "Orvella Dll Injected";   // the host's, signalled by the module
const char HookInstalledEventName[] = "Orvella Hook Installed"; // the module's, while it is resident

// Handles pending messages of the calling thread for about `milliseconds`.
void Pump(DWORD milliseconds = 50);

bool EventExists(const char* name);
bool EventSignalled(const char* name);   // false also when there is no such event

// The host's side of the handshake inside the calling process, on the calling thread: creates
// the host's event, calls the loaded module's ordinal-1 export as the host's hook would, and
// reports whether the event was signalled.
bool HandshakeInProcess(HMODULE module);

// `fileName` in the folder of the running program; false when the path would not fit.
bool FileBesideProgram(const char* fileName, char (&path)[MAX_PATH]);

} // namespace sandbox

#endif
