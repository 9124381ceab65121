// Test rig: the test process plays Messenger. It owns an "MSBLClass" window on its main thread,
// loads OrvlHook.dll (with the language chosen in the registry first), runs the injection
// handshake as the host would, and drives modal windows with a script that runs inside their modal
// loop, with bounded waits.
//
// CTest runs every test case in a process of its own, so the module's start-up state
// (language, hook, menu) is fresh for each.
#ifndef ORVL_TESTS_RIG_H
#define ORVL_TESTS_RIG_H

#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>
#include "sandbox/common/win32_helpers.h"
#include "sandbox/messenger/messenger_window.h"
#include <functional>
#include <string>
#include <vector>

namespace rig {

// ---- Texts -------------------------------------------------------------------------------
std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& utf8);
// UTF-8 text in the ANSI code page, as MAPI and the "A" functions hand it over.
std::string Ansi(const std::string& utf8);
// ANSI bytes as the system reads them (converted from the ANSI code page), as UTF-8.
std::string FromAnsi(const std::string& bytes);
// A window's text read with the "W" function, as UTF-8 (compare with UTF-8 literals).
std::string WindowText(HWND window);
std::string ClassName(HWND window);
// A string resource of the module read with LoadStringW, as UTF-8.
std::string ModuleString(UINT id);

// ---- Registry ------------------------------------------------------------------------------
extern const char SettingsKey[];   // "SOFTWARE\Dorvane Ltd\Orvella" under HKCU
void DeleteSettingsKey();
void SetSettingDword(const char* name, DWORD value);
void SetSettingString(const char* name, const std::string& value);        // REG_SZ, terminated
void SetSettingRaw(const char* name, DWORD type, const void* data, DWORD size);
struct RegValue { bool present = false; DWORD type = 0; std::string data; };
RegValue ReadSetting(const char* name);

// ---- The module ------------------------------------------------------------------------------
enum class Language { AsStored, NoKey, Absent, English, Russian };
// Sets "Lang" (Absent deletes the value, NoKey the whole settings key, AsStored leaves the
// registry alone), then loads OrvlHook.dll. Loads once per process.
HMODULE LoadModule(Language language = Language::English);
HMODULE Module();
using HookProc = LRESULT (CALLBACK*)(int, WPARAM, LPARAM);
HookProc ExportedHook();   // fnOrvlHook, found by ordinal 1

// The host's side of the handshake, on the calling thread: creates "Orvella Dll Injected",
// calls fnOrvlHook, reports whether the event was signalled, closes the event.
bool InjectAsHost();
using sandbox::EventExists;
using sandbox::EventSignalled;

// ---- Messenger ------------------------------------------------------------------------------
// The Messenger stand-in window on the calling thread (see sandbox/messenger/messenger_window.h):
// Unicode, as the real one is, unless asked for an ANSI one.
HWND CreateMessenger(bool withMenuBar = true, bool firstItemPopup = true,
                     sandbox::CharacterSet characterSet = sandbox::CharacterSet::Unicode);
// The window's top procedure, read with the call of the window's own character set (read with the
// other one, the system hands back a different value for the same procedure).
WNDPROC WindowProcedure(HWND window);

// The visible dialogs of this process (sheets, boxes, message boxes), those with one of
// `captions` (UTF-8) when any are given.
std::vector<HWND> OpenDialogs(const std::vector<std::string>& captions = {});

// Points the module's import of `function` from `dll` at `replacement` (in this process only);
// returns the previous target (null when the module does not import it).
void* ReplaceImport(HMODULE module, const char* dll, const char* function, void* replacement);
// Makes Windows refuse that call to the module: it returns 0 (with ERROR_ACCESS_DENIED) for a
// function of 1 to 4 arguments, ERROR_ACCESS_DENIED for one of 9 (the registry's). Returns the
// previous target, as ReplaceImport does.
void* RefuseImport(HMODULE module, const char* dll, const char* function, int arguments);

// Menu bar contents, read in this process.
struct MenuItem { UINT id = 0; bool popup = false; bool separator = false; std::string text; HMENU submenu = nullptr; };
std::vector<MenuItem> MenuItems(HMENU menu);
int CountProductPopups(HMENU menuBar);     // popups captioned "Orvella"

// ---- Messages --------------------------------------------------------------------------------
// Handles pending messages of the calling thread for about `milliseconds` (default 50).
using sandbox::Pump;
// Waits until condition is true or timeout (pumping, or inside a modal script letting the modal
// loop run); returns the last value of condition.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 5000);

// Records messages that windows of the calling thread receive through SendMessage and from the
// message queue (WH_CALLWNDPROCRET and WH_GETMESSAGE hooks), with the results of sent ones.
struct RecordedMessage { HWND window; UINT message; WPARAM wParam; LPARAM lParam; LRESULT result; bool sent; };
class MessageRecorder {
public:
    // Records only the message numbers in `messages` (all when empty).
    explicit MessageRecorder(std::vector<UINT> messages = {});
    ~MessageRecorder();
    std::vector<RecordedMessage> Messages() const;
    std::vector<RecordedMessage> MessagesTo(HWND window) const;
    void Clear();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;
};
std::string Describe(const std::vector<RecordedMessage>& messages);

// ---- Modal windows ---------------------------------------------------------------------------
// Runs `trigger` on the calling thread (it opens something modal, e.g. SendMessage of a menu
// command) while `script` drives the modal windows. The script runs on the same thread, as a
// fiber that a timer resumes from inside the modal loop: every wait in it (WaitForWindow,
// WaitUntil, ...) lets the modal loop run. The script must close what it opens. Whatever is still
// open when the script returns or its time runs out is closed by the rig and reported as a test
// failure. Anything that opens another modal window (a message box, a nested dialog) must be
// posted (Click, PressSheetButton do that), never sent, or the script would wait inside it.
class ModalScript;
void RunModal(const std::function<void()>& trigger, const std::function<void(ModalScript&)>& script,
              DWORD timeoutMs = 20000);

class ModalScript {
public:
    // A visible top-level window of this process with this class ("#32770" for dialogs and
    // message boxes) and, when given, this exact UTF-8 caption; null after timeout (a failure).
    HWND WaitForWindow(const char* className, const char* caption = nullptr, DWORD timeoutMs = 8000);
    // Waits until `window` is gone.
    bool WaitForClose(HWND window, DWORD timeoutMs = 8000);
    // The sheet's active page: PSM_GETCURRENTPAGEHWND.
    HWND CurrentPage(HWND sheet);
    // Presses a property-sheet button (PSBTN_OK, PSBTN_CANCEL, PSBTN_APPLYNOW, PSBTN_HELP), posted.
    void PressSheetButton(HWND sheet, int button);
    // Clicks a button control (BM_CLICK), posted so that a modal window it opens cannot block us.
    void Click(HWND dialog, int controlId);
    // Message box helpers: the text of its static, its icon kind, and pressing its OK button.
    std::string MessageBoxText(HWND box);
    // The icon shown by a message box: MB_ICONERROR, MB_ICONINFORMATION, ... or 0.
    UINT MessageBoxIcon(HWND box);
    void CloseMessageBox(HWND box);
    // Runs fn on the thread that owns `window` (the script's own thread).
    void OnWindowThread(HWND window, const std::function<void()>& fn);
    // True once something failed in the script (timeouts).
    bool failed = false;
};

// Chooses "Settings..." in Messenger's menu and runs body on the sheet with this caption and its
// page, inside the sheet's modal loop; body presses a closing button. The router answers the
// command with 0. A sheet that does not come, or stays open, fails the test.
void WithSettingsSheet(HWND messenger, const char* caption,
                       const std::function<void(ModalScript&, HWND sheet, HWND page)>& body);

// Control helpers that are safe from any thread.
std::string ControlText(HWND dialog, int controlId);
bool ControlEnabled(HWND dialog, int controlId);
bool ButtonChecked(HWND dialog, int controlId);
std::vector<std::string> ComboItems(HWND dialog, int controlId);
int ComboSelection(HWND dialog, int controlId);
// Sets a control's text with the "W" message, as a user typing it would (UTF-8 in).
void SetControlText(HWND dialog, int controlId, const std::string& text);
// The texts of a dialog's labels (static controls without an ID, icons left out), read with the
// "W" function, in window order.
std::vector<std::string> LabelTexts(HWND dialog);
// The text of a property sheet's tab, read with TCM_GETITEMW.
std::string SheetTabText(HWND sheet, int index);

// ---- Process resources ----------------------------------------------------------------------
// Wine answers 0 to GetGuiResources and GetProcessHandleCount, so the rig counts for itself by
// probing every possible handle value of this process: kernel handles (GetHandleInformation),
// GDI objects (GetObjectType), menus (IsMenu), cursors and icons (GetIconInfo); windows are
// enumerated. Wine takes a handle value with a zero high word as "any generation" of that slot.
struct ProcessResources {
    int kernelHandles = 0;
    int gdiObjects = 0;
    int menus = 0;
    int cursorsAndIcons = 0;
    int windows = 0;
};
ProcessResources CountProcessResources();
std::string Describe(const ProcessResources& resources);
// How much each count grew from `before` to `after` (negative: shrank).
ProcessResources Growth(const ProcessResources& before, const ProcessResources& after);

// ---- Screen readers --------------------------------------------------------------------------
// The window's client object as a screen reader gets it (AccessibleObjectFromWindow), or null;
// the caller releases it. Objects of another process need COM on the calling thread.
IAccessible* ClientObject(HWND window);
VARIANT ChildId(LONG id);
// What a reader hears of an object itself, or of one of its children: role -1 when it gives none.
struct Heard { LONG role = -1; LONG state = 0; std::string name; std::string action; };
Heard Hear(IAccessible* object, LONG child = CHILDID_SELF);
Heard HearWindow(HWND window);   // of its client object, released again

// ---- Other programs ----------------------------------------------------------------------------
// The Messenger stand-in (orvl_messenger.exe) as a program of its own beside the test, ended
// with this object.
struct MessengerProgram {
    PROCESS_INFORMATION process = {};
    HWND window = nullptr;
    // Starts it with `arguments` and waits (bounded) for its "MSBLClass" window.
    bool Start(const char* arguments);
    HWND Find() const;
    bool Running() const;
    ~MessengerProgram();
};

// Messenger's window exists, answers WM_NULL within timeoutMs, and its own procedure still
// answers its private query (through the module's router when that is installed).
bool MessengerResponds(HWND messenger, DWORD timeoutMs = 2000);

} // namespace rig

#endif
