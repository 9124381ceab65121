#include "sandbox/messenger/messenger_window.h"

namespace sandbox {

const char MessengerClassName[] = "MSBLClass";

namespace {
volatile LONG commandCount = 0;
volatile LONG queryCount = 0;
volatile LONG lastCommand = 0;
volatile LONG setTextCount = 0;
volatile LONG keyDownCount = 0;
wchar_t lastTextSet[512];
bool quitOnDestroy = false;
bool classRegistered = false;
CharacterSet registeredCharacterSet = CharacterSet::Unicode;

// Everything both procedures answer alike; false for what goes to the default procedure.
bool Answer(HWND window, UINT message, WPARAM wParam, LRESULT& result)
{
    switch (message) {
    case WM_COMMAND:
        InterlockedIncrement(&commandCount);
        InterlockedExchange(&lastCommand, LOWORD(wParam));
        if (LOWORD(wParam) == MessengerCommandExit)
            DestroyWindow(window);
        result = MessengerCommandAnswer;
        return true;
    case MessengerQueryMessage:
        InterlockedIncrement(&queryCount);
        result = MessengerQueryAnswer + wParam;
        return true;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT area;
        GetClientRect(window, &area);
        const char text[] = "Windows Messenger (stand-in)";
        DrawTextA(dc, text, -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        EndPaint(window, &paint);
        result = 0;
        return true;
    }
    case WM_DESTROY:
        if (quitOnDestroy)
            PostQuitMessage(0);
        result = 0;
        return true;
    default:
        return false;
    }
}

// Keeps the text of a WM_SETTEXT: a wide one as it is, an ANSI one byte by byte.
void RememberTextSet(LPARAM lParam, bool wide)
{
    InterlockedIncrement(&setTextCount);
    if (wide) {
        lstrcpynW(lastTextSet, lParam ? reinterpret_cast<const wchar_t*>(lParam) : L"", 512);
        return;
    }
    const unsigned char* text = lParam ? reinterpret_cast<const unsigned char*>(lParam)
                                       : reinterpret_cast<const unsigned char*>("");
    int i = 0;
    for (; i < 511 && text[i]; ++i)
        lastTextSet[i] = text[i];
    lastTextSet[i] = 0;
}

LRESULT Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool wide)
{
    LRESULT result = 0;
    if (Answer(window, message, wParam, result))
        return result;
    if (message == WM_SETTEXT)
        RememberTextSet(lParam, wide);
    if (message == WM_KEYDOWN)
        InterlockedIncrement(&keyDownCount);
    return wide ? DefWindowProcW(window, message, wParam, lParam) : DefWindowProcA(window, message, wParam, lParam);
}
}

LRESULT CALLBACK MessengerWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return Procedure(window, message, wParam, lParam, true);
}

LRESULT CALLBACK MessengerWindowProcedureA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return Procedure(window, message, wParam, lParam, false);
}

const wchar_t* LastTextSet()
{
    return lastTextSet;
}

HMENU CreateMessengerMenuBar(bool firstItemPopup)
{
    HMENU bar = CreateMenu();
    if (!firstItemPopup)
        AppendMenuA(bar, MF_STRING, MessengerCommandSignIn, "Sign In");
    HMENU file = CreatePopupMenu();
    AppendMenuA(file, MF_STRING, MessengerCommandSignIn, "Sign In...");
    AppendMenuA(file, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(file, MF_STRING, MessengerCommandExit, "Exit");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), "File");
    HMENU tools = CreatePopupMenu();
    AppendMenuA(tools, MF_STRING, MessengerCommandOptions, "Options...");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(tools), "Tools");
    HMENU help = CreatePopupMenu();
    AppendMenuA(help, MF_STRING, MessengerCommandOptions + 1, "About Windows Messenger");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(help), "Help");
    return bar;
}

bool HasMenuPopup(HWND window, const char* caption)
{
    HMENU bar = GetMenu(window);
    int count = bar ? GetMenuItemCount(bar) : 0;
    for (int i = 0; i < count; ++i) {
        char text[64] = "";
        if (GetSubMenu(bar, i) && GetMenuStringA(bar, i, text, sizeof(text), MF_BYPOSITION)
            && lstrcmpA(text, caption) == 0)
            return true;
    }
    return false;
}

namespace {
bool RegisterMessengerClass(CharacterSet characterSet)
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (classRegistered && registeredCharacterSet == characterSet)
        return true;
    if (classRegistered) {
        if (!UnregisterClassA(MessengerClassName, instance))
            return false;  // a window of the other character set still exists
        classRegistered = false;
    }
    HCURSOR arrow = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
    HBRUSH background = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    if (characterSet == CharacterSet::Unicode) {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = MessengerWindowProcedure;
        windowClass.hInstance = instance;
        windowClass.hCursor = arrow;
        windowClass.hbrBackground = background;
        windowClass.lpszClassName = L"MSBLClass";
        classRegistered = RegisterClassW(&windowClass) != 0;
    } else {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = MessengerWindowProcedureA;
        windowClass.hInstance = instance;
        windowClass.hCursor = arrow;
        windowClass.hbrBackground = background;
        windowClass.lpszClassName = MessengerClassName;
        classRegistered = RegisterClassA(&windowClass) != 0;
    }
    registeredCharacterSet = characterSet;
    return classRegistered;
}
}

HWND CreateMessengerWindow(bool withMenuBar, bool firstItemPopup, CharacterSet characterSet)
{
    if (!RegisterMessengerClass(characterSet))
        return nullptr;
    HMENU bar = withMenuBar ? CreateMessengerMenuBar(firstItemPopup) : nullptr;
    HWND window = CreateWindowExA(0, MessengerClassName, "Windows Messenger", WS_OVERLAPPEDWINDOW,
                                  40, 40, 420, 300, nullptr, bar, GetModuleHandleA(nullptr), nullptr);
    if (!window) {
        if (bar)
            DestroyMenu(bar);
        return nullptr;
    }
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    return window;
}

void QuitWhenMessengerDestroyed(bool quit)
{
    quitOnDestroy = quit;
}

MessengerStats GetMessengerStats()
{
    MessengerStats stats;
    stats.commands = commandCount;
    stats.lastCommandId = static_cast<UINT>(lastCommand);
    stats.queries = queryCount;
    stats.setTexts = setTextCount;
    stats.keyDowns = keyDownCount;
    return stats;
}

void ResetMessengerStats()
{
    InterlockedExchange(&commandCount, 0);
    InterlockedExchange(&queryCount, 0);
    InterlockedExchange(&lastCommand, 0);
    InterlockedExchange(&setTextCount, 0);
    InterlockedExchange(&keyDownCount, 0);
    lastTextSet[0] = 0;
}

} // namespace sandbox
