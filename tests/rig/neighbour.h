// Another add-in in Messenger's process: it subclasses the same main window and passes every
// message on with CallWindowProc to what it replaced, or hooks the same thread with WH_GETMESSAGE.
// It counts how often its procedure is entered and how deeply it is nested, and cuts a chain that
// loops (nested deeper than LoopDepth) so that a loop fails the test instead of overflowing the
// stack.
#ifndef ORVL_TESTS_RIG_NEIGHBOUR_H
#define ORVL_TESTS_RIG_NEIGHBOUR_H

#include <windows.h>
#include <vector>
#include "sandbox/messenger/messenger_window.h"

namespace rig {

// Both kinds hold a place in the system that a copy would give back twice.
class Uncopyable {
public:
    Uncopyable() = default;
    Uncopyable(const Uncopyable&) = delete;
    Uncopyable& operator=(const Uncopyable&) = delete;
};

class NeighbourSubclass : private Uncopyable {
public:
    static const int LoopDepth = 40;
    static const int Slots = 8;   // how many may live at once

    // Subclasses `window` now, on top of its chain, with the "W" or the "A" calls.
    NeighbourSubclass(HWND window, sandbox::CharacterSet calls);
    // Leaves when it is on top; otherwise its procedure stays in the chain and passes messages on.
    ~NeighbourSubclass();

    bool Installed() const { return slot >= 0 && replaced != nullptr; }
    // A well-behaved add-in leaving while it is on top: puts back what it replaced. Its
    // procedure, if still reached from somewhere, keeps passing messages on.
    void Leave();
    // A badly behaved one: sets `procedure` as the window's procedure wherever it stands.
    void SetWindowProcedure(WNDPROC procedure);

    LONG Entries() const;        // messages that entered its procedure since the last reset
    bool LoopCut() const;        // a chain nested deeper than LoopDepth went through it
    void ResetCounts();

    // The procedure's own address, as the calls it was set with read it back.
    WNDPROC Procedure() const;

private:
    HWND window = nullptr;
    sandbox::CharacterSet calls;
    int slot = -1;
    WNDPROC replaced = nullptr;
    bool leftCleanly = false;
    WNDPROC WindowProcedureRead() const;
};

// A WH_GETMESSAGE hook of another add-in on the calling thread; records the message numbers it sees.
class NeighbourHook : private Uncopyable {
public:
    NeighbourHook();
    ~NeighbourHook();
    bool Installed() const { return hook != nullptr; }
    // Messages seen with number `message` (retrieved and removed from the queue), in order of wParam.
    std::vector<WPARAM> Seen(UINT message) const;
private:
    HHOOK hook = nullptr;
};

} // namespace rig

#endif
