// The system's wait cursor on the calling thread while the module waits on MAPI, which can take
// tens of seconds against an Exchange server that does not answer. The cursor shown before comes
// back when the scope ends, whichever way it is left.
#ifndef ORVLHOOK_HOST_WAIT_CURSOR_H
#define ORVLHOOK_HOST_WAIT_CURSOR_H

#include <windows.h>

class WaitCursor {
public:
    WaitCursor() : previous(SetCursor(LoadCursorA(nullptr, IDC_WAIT))) {}
    ~WaitCursor() { SetCursor(previous); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    HCURSOR previous;
};

#endif
