// Helpers for tests that check what the browser stand-in (orvl_browser.exe) was asked to open.
// The stand-in appends one line per address to the file named by "LogFile" under SettingsKey.
#ifndef ORVL_SANDBOX_BROWSER_LOG_H
#define ORVL_SANDBOX_BROWSER_LOG_H

#include <windows.h>
#include <string>
#include <vector>

namespace sandbox_browser {

const char SettingsKey[] = "Software\\Orvella Sandbox\\Browser";

// Points the stand-in at a new, empty temporary file and turns its window off.
// Returns the file's path ("" if the registry or the temp folder refused).
inline std::string UseFreshLog()
{
    char folder[MAX_PATH];
    char path[MAX_PATH];
    DWORD folderLength = GetTempPathA(sizeof(folder), folder);
    if (folderLength == 0 || folderLength >= sizeof(folder) || !GetTempFileNameA(folder, "obl", 0, path))
        return std::string();
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return std::string();
    DWORD show = 0;
    LONG status = RegSetValueExA(key, "LogFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(path), lstrlenA(path) + 1);
    RegSetValueExA(key, "Show", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&show), sizeof(show));
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::string(path) : std::string();
}

// The complete lines of the log (without their line ends).
inline std::vector<std::string> ReadLog(const std::string& path)
{
    std::vector<std::string> lines;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return lines;
    std::string content;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0)
        content.append(chunk, got);
    CloseHandle(file);
    size_t start = 0;
    for (size_t end = content.find('\n'); end != std::string::npos; end = content.find('\n', start)) {
        size_t length = end - start;
        if (length > 0 && content[end - 1] == '\r')
            --length;
        lines.push_back(content.substr(start, length));
        start = end + 1;
    }
    return lines;
}

// Waits until the log holds at least `count` lines or `timeoutMs` has passed, handling the
// calling thread's messages meanwhile. True when the lines are there.
inline bool WaitForLogLines(const std::string& path, size_t count, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (ReadLog(path).size() >= count)
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return false;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
}

} // namespace sandbox_browser

#endif
