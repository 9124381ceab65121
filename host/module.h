// Module-wide state of OrvlHook and the host-integration entry points.
// Everything here is touched only on Messenger's user-interface thread (and by the loader).
#ifndef ORVLHOOK_HOST_MODULE_H
#define ORVLHOOK_HOST_MODULE_H

#include <windows.h>

extern HINSTANCE ModuleInstance;     // this DLL; every resource comes from it
extern UINT LanguageOffset;          // 0 English, RUSSIAN_ID_OFFSET Russian
extern HHOOK MenuTriggerHook;        // WH_GETMESSAGE hook that puts the menu back
extern HANDLE HookInstalledEvent;    // "Orvella Hook Installed", held while resident

extern const char MessengerWindowClass[];  // "MSBLClass"

// A language-dependent resource ID as a 16-bit integer resource name.
inline UINT LocalizedId(UINT baseId) { return (baseId + LanguageOffset) & 0xFFFF; }
// The same for the "W" calls: every text the user reads is loaded and shown through them, so that
// Russian reads right whatever the ANSI code page.
// cppcheck-suppress CastIntegerToAddressAtReturn ; MAKEINTRESOURCEW is the cast, cppcheck models it as the bare integer
inline LPCWSTR LocalizedResourceW(UINT baseId) { return MAKEINTRESOURCEW(LocalizedId(baseId)); }

// Reads "Lang" and sets LanguageOffset (process attach).
void LoadLanguageChoice();

// Appends the product popup to Messenger's menu bar unless it is there, and routes its commands.
// window may be null: Messenger's main window is then the "MSBLClass" window of this thread.
void InstallProductMenu(HWND window);
// Puts the command router into the window's procedure chain unless it is in it already.
void RouteCommandsThrough(HWND window);
// Takes the product's commands; passes everything else to the procedure it replaced.
LRESULT CALLBACK CommandRouterProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// A command repeated while its window is still open shows the user that window instead: the
// window itself, or the dialog it waits on (a report box, MAPI's own dialog). Does nothing once
// the window has closed.
void BringOpenWindowForward(HWND window);
// A library of the system folder, loaded by its full path (name: at most 31 characters); null
// when the folder cannot be read or the library not loaded.
HMODULE LoadSystemLibrary(const char* name);
LRESULT CALLBACK MenuTriggerHookProc(int code, WPARAM wParam, LPARAM lParam);

// The module's only export (decorated C++ name, ordinal 1).
LRESULT CALLBACK fnOrvlHook(int code, WPARAM wParam, LPARAM lParam);

#endif
