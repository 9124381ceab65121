// orvl_host.exe: the add-in host stand-in. Injects OrvlHook.dll (from this program's folder) into
// the running Messenger stand-in and reports what happened.
//   exit 0  the module answered and "Orvella Hook Installed" exists
//   exit 1  the injection failed (see the message)
//   exit 3  the module answered but did not stay installed
#include "sandbox/host/inject.h"

#include <cstdio>

namespace {

const DWORD InjectTimeoutMs = 20000;
const DWORD InstalledTimeoutMs = 5000;
const char HookInstalledEventName[] = "Orvella Hook Installed";

bool EventExists(const char* name)
{
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, name);
    if (!event)
        return false;
    CloseHandle(event);
    return true;
}

} // namespace

int main()
{
    sandbox::InjectResult result = sandbox::InjectIntoMessenger(InjectTimeoutMs);
    if (result.messenger)
        std::printf("orvl_host: Messenger window %p on thread %lu\n", static_cast<void*>(result.messenger),
                    static_cast<unsigned long>(result.messengerThread));
    if (result.outcome != sandbox::InjectOutcome::Injected) {
        std::printf("orvl_host: injection failed: %s (error %lu, %lu ms)\n",
                    sandbox::DescribeInjectOutcome(result.outcome), static_cast<unsigned long>(result.error),
                    static_cast<unsigned long>(result.elapsedMs));
        return 1;
    }
    std::printf("orvl_host: %s after %lu ms\n", sandbox::DescribeInjectOutcome(result.outcome),
                static_cast<unsigned long>(result.elapsedMs));

    // The module creates its event inside Messenger right after answering.
    DWORD start = GetTickCount();
    while (!EventExists(HookInstalledEventName) && GetTickCount() - start < InstalledTimeoutMs)
        Sleep(50);
    if (!EventExists(HookInstalledEventName)) {
        std::printf("orvl_host: \"%s\" does not exist: the module did not stay in Messenger\n", HookInstalledEventName);
        return 3;
    }
    std::printf("orvl_host: \"%s\" exists: OrvlHook is resident in Messenger\n", HookInstalledEventName);
    return 0;
}
