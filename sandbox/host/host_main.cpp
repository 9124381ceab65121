// orvl_host.exe: the add-in host stand-in. Injects OrvlHook.dll (from this program's folder) into
// the running Messenger stand-in and reports what happened.
//   exit 0  the module answered and "Orvella Hook Installed" exists
//   exit 1  the injection failed (see the message)
//   exit 3  the module answered but did not stay installed
#include "sandbox/host/inject.h"
#include "sandbox/common/win32_helpers.h"

#include <cstdio>

namespace {

const DWORD InjectTimeoutMs = 20000;
const DWORD InstalledTimeoutMs = 5000;

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
    while (!sandbox::EventExists(sandbox::HookInstalledEventName) && GetTickCount() - start < InstalledTimeoutMs)
        Sleep(50);
    if (!sandbox::EventExists(sandbox::HookInstalledEventName)) {
        std::printf("orvl_host: \"%s\" does not exist: the module did not stay in Messenger\n", sandbox::HookInstalledEventName);
        return 3;
    }
    std::printf("orvl_host: \"%s\" exists: OrvlHook is resident in Messenger\n", sandbox::HookInstalledEventName);
    return 0;
}
