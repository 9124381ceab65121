#include "sandbox/messenger/messenger_window.h"

namespace sandbox {

const char MessengerClassName[] = "MSBLClass";

namespace {
volatile LONG commandCount = 0;
volatile LONG queryCount = 0;
volatile LONG lastCommand = 0;
bool quitOnDestroy = false;
}

LRESULT CALLBACK MessengerWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        InterlockedIncrement(&commandCount);
        InterlockedExchange(&lastCommand, LOWORD(wParam));
        if (LOWORD(wParam) == MessengerCommandExit)
            DestroyWindow(window);
        return MessengerCommandAnswer;
    case MessengerQueryMessage:
        InterlockedIncrement(&queryCount);
        return MessengerQueryAnswer + wParam;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT area;
        GetClientRect(window, &area);
        const char text[] = "Windows Messenger (stand-in)";
        DrawTextA(dc, text, -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DESTROY:
        if (quitOnDestroy)
            PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
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

HWND CreateMessengerWindow(bool withMenuBar, bool firstItemPopup)
{
    WNDCLASSA windowClass = {};
    if (!GetClassInfoA(GetModuleHandleA(nullptr), MessengerClassName, &windowClass)) {
        windowClass.lpfnWndProc = MessengerWindowProcedure;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        windowClass.lpszClassName = MessengerClassName;
        if (!RegisterClassA(&windowClass))
            return nullptr;
    }
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
    return stats;
}

void ResetMessengerStats()
{
    InterlockedExchange(&commandCount, 0);
    InterlockedExchange(&queryCount, 0);
    InterlockedExchange(&lastCommand, 0);
}

} // namespace sandbox
