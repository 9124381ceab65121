#include "tests/rig/neighbour.h"

namespace rig {

// One live neighbour per slot: a window procedure cannot carry a pointer to its object, so each
// slot has a procedure of its own.
struct NeighbourSlot {
    bool taken;                     // its procedure may still be in some window's chain
    WNDPROC replaced;
    sandbox::CharacterSet calls;
    LONG entries;
    int depth;
    bool loopCut;

    static NeighbourSlot slots[NeighbourSubclass::Slots];

    template <int Index>
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        NeighbourSlot& slot = slots[Index];
        ++slot.entries;
        if (slot.depth >= NeighbourSubclass::LoopDepth) {
            slot.loopCut = true;
            return 0;
        }
        ++slot.depth;
        LRESULT result = slot.calls == sandbox::CharacterSet::Unicode
                             ? CallWindowProcW(slot.replaced, window, message, wParam, lParam)
                             : CallWindowProcA(slot.replaced, window, message, wParam, lParam);
        --slot.depth;
        return result;
    }
};

NeighbourSlot NeighbourSlot::slots[NeighbourSubclass::Slots];

namespace {

const WNDPROC SlotProcedures[NeighbourSubclass::Slots] = {
    NeighbourSlot::Procedure<0>, NeighbourSlot::Procedure<1>, NeighbourSlot::Procedure<2>, NeighbourSlot::Procedure<3>,
    NeighbourSlot::Procedure<4>, NeighbourSlot::Procedure<5>, NeighbourSlot::Procedure<6>, NeighbourSlot::Procedure<7>};

LONG SetProcedure(HWND window, sandbox::CharacterSet calls, WNDPROC procedure)
{
    LONG value = reinterpret_cast<LONG>(procedure);
    return calls == sandbox::CharacterSet::Unicode ? SetWindowLongW(window, GWL_WNDPROC, value)
                                                   : SetWindowLongA(window, GWL_WNDPROC, value);
}

} // namespace

NeighbourSubclass::NeighbourSubclass(HWND window, sandbox::CharacterSet calls) : window(window), calls(calls)
{
    for (int i = 0; i < Slots; ++i) {
        if (!NeighbourSlot::slots[i].taken) {
            slot = i;
            break;
        }
    }
    if (slot < 0)
        return;
    NeighbourSlot& state = NeighbourSlot::slots[slot];
    state = NeighbourSlot{true, nullptr, calls, 0, 0, false};
    // Ready before it is set: the first message may arrive inside SetWindowLong.
    state.replaced = reinterpret_cast<WNDPROC>(calls == sandbox::CharacterSet::Unicode
                                                   ? GetWindowLongW(window, GWL_WNDPROC)
                                                   : GetWindowLongA(window, GWL_WNDPROC));
    replaced = reinterpret_cast<WNDPROC>(SetProcedure(window, calls, SlotProcedures[slot]));
    state.replaced = replaced;
    if (!replaced) {
        state.taken = false;
        slot = -1;
    }
}

NeighbourSubclass::~NeighbourSubclass()
{
    if (slot < 0)
        return;
    if (IsWindow(window) && WindowProcedureRead() == SlotProcedures[slot])
        Leave();
    // A procedure that a live window may still reach keeps its slot (like a DLL that stays loaded).
    NeighbourSlot::slots[slot].taken = IsWindow(window) && !leftCleanly;
}

void NeighbourSubclass::Leave()
{
    if (Installed() && SetProcedure(window, calls, replaced))
        leftCleanly = true;
}

void NeighbourSubclass::SetWindowProcedure(WNDPROC procedure)
{
    SetProcedure(window, calls, procedure);
}

WNDPROC NeighbourSubclass::WindowProcedureRead() const
{
    return reinterpret_cast<WNDPROC>(calls == sandbox::CharacterSet::Unicode ? GetWindowLongW(window, GWL_WNDPROC)
                                                                             : GetWindowLongA(window, GWL_WNDPROC));
}

LONG NeighbourSubclass::Entries() const
{
    return slot >= 0 ? NeighbourSlot::slots[slot].entries : 0;
}

bool NeighbourSubclass::LoopCut() const
{
    return slot >= 0 && NeighbourSlot::slots[slot].loopCut;
}

void NeighbourSubclass::ResetCounts()
{
    if (slot >= 0) {
        NeighbourSlot::slots[slot].entries = 0;
        NeighbourSlot::slots[slot].loopCut = false;
    }
}

WNDPROC NeighbourSubclass::Procedure() const
{
    return slot >= 0 ? SlotProcedures[slot] : nullptr;
}

// ---- Hook ----------------------------------------------------------------------------------

namespace {
std::vector<MSG> hookSeen;
HHOOK neighbourHook = nullptr;

LRESULT CALLBACK NeighbourHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION && wParam == PM_REMOVE && lParam)
        hookSeen.push_back(*reinterpret_cast<const MSG*>(lParam));
    return CallNextHookEx(neighbourHook, code, wParam, lParam);
}
} // namespace

NeighbourHook::NeighbourHook()
{
    hookSeen.clear();
    if (!neighbourHook)
        hook = neighbourHook = SetWindowsHookExA(WH_GETMESSAGE, NeighbourHookProc, nullptr, GetCurrentThreadId());
}

NeighbourHook::~NeighbourHook()
{
    if (hook) {
        UnhookWindowsHookEx(hook);
        neighbourHook = nullptr;
    }
}

std::vector<WPARAM> NeighbourHook::Seen(UINT message) const
{
    std::vector<WPARAM> seen;
    for (const MSG& entry : hookSeen)
        if (entry.message == message)
            seen.push_back(entry.wParam);
    return seen;
}

} // namespace rig
