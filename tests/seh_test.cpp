// Exceptions that pass through the module. OrvlHook.dll is marked NO_SEH (it has no SEH handler
// of its own, docs/binary.md): an exception raised or a fault taken below its frames, here in a
// procedure under the router on Messenger's window, must still reach the handler Messenger put
// on the thread's chain above them, and the module must route on afterwards.
#include "tests/rig/rig.h"
#include "sandbox/messenger/messenger_window.h"

#include <gtest/gtest.h>

using namespace rig;

namespace {

const UINT RaiseMessage = WM_APP + 0x55;   // not one of the product's trigger messages
const UINT FaultMessage = WM_APP + 0x56;
const DWORD StandInException = 0xE0C0FFEE; // a software exception of the stand-in's own
const LRESULT RaisedAnswer = 77;

WNDPROC messengersOwn = nullptr;
LONG handlerCalls = 0;
DWORD lastCode = 0;
DWORD fallback = 0x1234;

// The stand-in below the router: raises a continuable exception, or reads through a null
// pointer held in ecx (the handler points ecx at `fallback` and lets the read run again).
LRESULT CALLBACK StandInProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == RaiseMessage) {
        RaiseException(StandInException, 0, 0, nullptr);
        return RaisedAnswer;
    }
    if (message == FaultMessage) {
        DWORD value = 0;
        const DWORD* pointer = nullptr;
        asm volatile("movl (%1), %0" : "=a"(value) : "c"(pointer) : "memory");
        return static_cast<LRESULT>(value);
    }
    return CallWindowProcW(messengersOwn, window, message, wParam, lParam);
}

// A read through a null pointer is an access violation. QEMU's user-mode emulator, which runs
// 32-bit Wine where the kernel cannot (scripts/setup.sh), hands the same fault to Wine as an
// illegal instruction; run-in-display.sh sets ORVL_EMULATED there.
DWORD FaultCode()
{
    return GetEnvironmentVariableA("ORVL_EMULATED", nullptr, 0) ? static_cast<DWORD>(EXCEPTION_ILLEGAL_INSTRUCTION)
                                                                : static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION);
}

struct Registration {
    Registration* previous;
    void* handler;
};

EXCEPTION_DISPOSITION __cdecl MessengersHandler(EXCEPTION_RECORD* record, void*, CONTEXT* context, void*)
{
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    ++handlerCalls;
    lastCode = record->ExceptionCode;
    if (record->ExceptionCode == StandInException && !(record->ExceptionFlags & EXCEPTION_NONCONTINUABLE))
        return ExceptionContinueExecution;
    if (record->ExceptionCode == FaultCode() && context->Ecx == 0) {
        context->Ecx = reinterpret_cast<DWORD>(&fallback);
        return ExceptionContinueExecution;
    }
    return ExceptionContinueSearch;
}

// Sends `message` with MessengersHandler at the head of the thread's SEH chain (fs:0) for the
// time of the call, as a host program's own frame would have it.
LRESULT SendUnderHandler(HWND window, UINT message)
{
    Registration registration = {nullptr, reinterpret_cast<void*>(&MessengersHandler)};
    Registration* head = nullptr;
    asm volatile("movl %%fs:0, %0" : "=r"(head));
    registration.previous = head;
    Registration* mine = &registration;
    asm volatile("movl %0, %%fs:0" : : "r"(mine) : "memory");
    LRESULT result = SendMessageW(window, message, 0, 0);
    asm volatile("movl %0, %%fs:0" : : "r"(head) : "memory");
    return result;
}

class Seh : public testing::Test {
protected:
    HWND messenger = nullptr;

    void SetUp() override
    {
        DeleteSettingsKey();
        messenger = CreateMessenger();
        ASSERT_NE(nullptr, messenger);
        messengersOwn = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(messenger, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&StandInProcedure)));
        ASSERT_NE(nullptr, messengersOwn);
        HMODULE module = LoadModule(Language::English);
        ASSERT_NE(nullptr, module);
        // The image under test is the one that promises to hold no handler.
        const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
        const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
            reinterpret_cast<const BYTE*>(module) + dos->e_lfanew);
        ASSERT_NE(0, nt->OptionalHeader.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_NO_SEH);
        ASSERT_TRUE(InjectAsHost());
        Pump(20);
        // The router is on top, the stand-in below it.
        ASSERT_NE(reinterpret_cast<WNDPROC>(&StandInProcedure), WindowProcedure(messenger));
        handlerCalls = 0;
        lastCode = 0;
    }

    void ExpectStillRouting()
    {
        EXPECT_TRUE(MessengerResponds(messenger));
        LONG commands = sandbox::GetMessengerStats().commands;
        EXPECT_EQ(sandbox::MessengerCommandAnswer, SendMessageW(messenger, WM_COMMAND, MAKEWPARAM(4242, 1), 0));
        EXPECT_EQ(commands + 1, sandbox::GetMessengerStats().commands) << "an ordinary command, once";
        EXPECT_EQ(1, CountProductPopups(GetMenu(messenger)));
    }
};

} // namespace

TEST_F(Seh, RaisedBelowTheRouterReachesMessengersHandler)
{
    EXPECT_EQ(RaisedAnswer, SendUnderHandler(messenger, RaiseMessage));
    EXPECT_EQ(1, handlerCalls);
    EXPECT_EQ(StandInException, lastCode);
    ExpectStillRouting();
}

TEST_F(Seh, FaultBelowTheRouterReachesMessengersHandler)
{
    EXPECT_EQ(static_cast<LRESULT>(fallback), SendUnderHandler(messenger, FaultMessage));
    EXPECT_EQ(1, handlerCalls);
    EXPECT_EQ(FaultCode(), lastCode);
    ExpectStillRouting();
}
