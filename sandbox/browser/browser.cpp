// Browser stand-in: registered as the open command of http, https and mailto, it appends the
// address it was given to a log file and, for the demo, shows it in a small window for a while.
//
// HKCU\Software\Orvella Sandbox\Browser:
//   "LogFile"     REG_SZ   log path (default %TEMP%\orvl_browser.log)
//   "Show"        DWORD    1: show the address in a window titled "Browser stand-in"
//   "ShowSeconds" DWORD    how long that window stays (default 6)
#include <windows.h>
#include "sandbox/browser/browser_log.h"
#include "sandbox/stand_in_window.h"

namespace {

const int AddressCapacity = 2048;
const int PathCapacity = MAX_PATH;
const char WindowClassName[] = "OrvlBrowserStandIn";
const char WindowTitle[] = "Browser stand-in";
const UINT_PTR CloseTimer = 1;
const DWORD DefaultShowSeconds = 6;

char Address[AddressCapacity];

// The first argument after the program name, without its quotes; the rest if unquoted.
void ReadAddress(char* address, int capacity)
{
    const char* c = GetCommandLineA();
    if (*c == '"') {
        ++c;
        while (*c && *c != '"')
            ++c;
        if (*c)
            ++c;
    } else {
        while (*c && *c != ' ' && *c != '\t')
            ++c;
    }
    while (*c == ' ' || *c == '\t')
        ++c;
    int length = 0;
    if (*c == '"') {
        ++c;
        while (*c && *c != '"' && length < capacity - 1)
            address[length++] = *c++;
    } else {
        while (*c && length < capacity - 1)
            address[length++] = *c++;
        while (length > 0 && (address[length - 1] == ' ' || address[length - 1] == '\t'))
            --length;
    }
    address[length] = '\0';
}

DWORD ReadSettingDword(const char* name, DWORD fallback)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, sandbox_browser::SettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return fallback;
    DWORD value = 0, type = 0, size = sizeof(value);
    LONG status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return (status == ERROR_SUCCESS && type == REG_DWORD) ? value : fallback;
}

void ReadLogPath(char* path, int capacity)
{
    path[0] = '\0';
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, sandbox_browser::SettingsKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD type = 0, size = capacity - 1;
        if (RegQueryValueExA(key, "LogFile", nullptr, &type, reinterpret_cast<BYTE*>(path), &size) != ERROR_SUCCESS
            || type != REG_SZ)
            size = 0;
        path[size < static_cast<DWORD>(capacity) ? size : capacity - 1] = '\0';
        RegCloseKey(key);
    }
    if (path[0])
        return;
    DWORD tempLength = GetTempPathA(capacity, path);
    if (tempLength == 0 || tempLength >= static_cast<DWORD>(capacity))
        path[0] = '\0';
    lstrcpynA(path + lstrlenA(path), "orvl_browser.log", capacity - lstrlenA(path));
}

// One line per address. Several stand-ins may run at once: each appends in one write and
// waits a little while another has the file.
void AppendToLog(const char* path, const char* address)
{
    char line[AddressCapacity + 2];
    lstrcpynA(line, address, AddressCapacity);
    int length = lstrlenA(line);
    lstrcpynA(line + length, "\r\n", sizeof(line) - length);
    for (int attempt = 0; attempt < 100; ++attempt) {
        HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, line, lstrlenA(line), &written, nullptr);
            CloseHandle(file);
            return;
        }
        Sleep(20);
    }
}

LRESULT CALLBACK StandInWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT area;
        GetClientRect(window, &area);
        InflateRect(&area, -12, -10);
        HGDIOBJ previousFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
        SetBkMode(dc, TRANSPARENT);
        DrawTextA(dc, "The link opened this address:", -1, &area, DT_LEFT | DT_TOP | DT_SINGLELINE);
        area.top += 24;
        SetTextColor(dc, RGB(0, 0, 160));
        DrawTextA(dc, Address, -1, &area, DT_LEFT | DT_TOP | DT_WORDBREAK | DT_EDITCONTROL);
        SelectObject(dc, previousFont);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_TIMER:
        if (wParam == CloseTimer)
            DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

void ShowAddress(HINSTANCE instance, DWORD seconds)
{
    if (!sandbox::RegisterStandInWindowClass(instance, StandInWindowProc, WindowClassName))
        return;
    const int width = 460, height = 130;
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int y = GetSystemMetrics(SM_CYSCREEN) / 8;
    HWND window = CreateWindowExA(WS_EX_TOPMOST, WindowClassName, WindowTitle,
                                  WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_VISIBLE,
                                  x, y, width, height, nullptr, nullptr, instance, nullptr);
    if (!window)
        return;
    SetTimer(window, CloseTimer, seconds * 1000, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    ReadAddress(Address, sizeof(Address));
    char logPath[PathCapacity];
    ReadLogPath(logPath, sizeof(logPath));
    if (logPath[0])
        AppendToLog(logPath, Address);
    if (ReadSettingDword("Show", 0) == 1)
        ShowAddress(instance, ReadSettingDword("ShowSeconds", DefaultShowSeconds));
    return 0;
}
