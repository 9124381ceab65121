// A stand-in for Windows Messenger's main window: class "MSBLClass", a menu bar whose first
// item is a popup, and a window procedure that answers and counts what reaches it.
#ifndef ORVL_SANDBOX_MESSENGER_WINDOW_H
#define ORVL_SANDBOX_MESSENGER_WINDOW_H

#include <windows.h>

namespace sandbox {

// Commands of the stand-in's own menus.
const UINT MessengerCommandSignIn = 40001;
const UINT MessengerCommandExit = 40002;
const UINT MessengerCommandOptions = 40003;

// What Messenger's own procedure answers to WM_COMMAND and to the private query below, so that
// a caller can tell that a message really reached it.
const LRESULT MessengerCommandAnswer = 0x4D53;       // "MS"
const UINT MessengerQueryMessage = WM_APP + 0x200;   // returns MessengerQueryAnswer + wParam
const LRESULT MessengerQueryAnswer = 0x1000;

struct MessengerStats {
    LONG commands;        // WM_COMMAND messages that reached Messenger's procedure
    UINT lastCommandId;   // low word of the last one
    LONG queries;         // MessengerQueryMessage messages
    LONG setTexts;        // WM_SETTEXT messages
    LONG keyDowns;        // WM_KEYDOWN messages
};

// Like the real Messenger, the window is Unicode; an ANSI one is there for tests that need it.
enum class CharacterSet { Unicode, Ansi };

// Registers the class (again, when no window of the other character set exists) and creates a
// visible top-level window on the calling thread. withMenuBar false gives a window without a
// menu; firstItemPopup false starts the bar with a plain command item.
HWND CreateMessengerWindow(bool withMenuBar = true, bool firstItemPopup = true,
                           CharacterSet characterSet = CharacterSet::Unicode);

// The last WM_SETTEXT text that reached Messenger's procedure, as it arrived: UTF-16 for the
// Unicode window, the ANSI bytes widened one byte to one character for the ANSI one.
const wchar_t* LastTextSet();

// A menu bar like Messenger's ("File", "Tools", "Help" popups), or one starting with a command.
HMENU CreateMessengerMenuBar(bool firstItemPopup = true);

// Whether the window's menu bar holds a popup with this caption (the injected product's menu).
bool HasMenuPopup(HWND window, const char* caption);

// Counters of the window procedure (process-wide; reset clears them).
MessengerStats GetMessengerStats();
void ResetMessengerStats();

// Whether destroying the window ends the thread's message loop (PostQuitMessage). Off by
// default: tests destroy windows and keep pumping.
void QuitWhenMessengerDestroyed(bool quit);

// The window procedures themselves, for tests that check what Messenger's procedure looks like:
// the Unicode window's and the ANSI window's.
LRESULT CALLBACK MessengerWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK MessengerWindowProcedureA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

extern const char MessengerClassName[];

} // namespace sandbox

#endif
