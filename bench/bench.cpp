#include "bench/bench.h"
#include "sandbox/messenger/messenger_window.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace bench {

using sandbox::FileBesideProgram;

// ---- Time ----------------------------------------------------------------------------------

LONGLONG Ticks()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double Microseconds(LONGLONG ticks)
{
    static const double frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return static_cast<double>(value.QuadPart);
    }();
    return static_cast<double>(ticks) * 1e6 / frequency;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    if (values.size() % 2)
        return values[middle];
    return (values[middle - 1] + values[middle]) / 2.0;
}

double Minimum(const std::vector<double>& values)
{
    return values.empty() ? 0.0 : *std::min_element(values.begin(), values.end());
}

double Maximum(const std::vector<double>& values)
{
    return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
}

// ---- Output --------------------------------------------------------------------------------

std::string Format(const char* format, ...)
{
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof(text), format, arguments);
    va_end(arguments);
    return text;
}

void Row(const std::string& benchmark, const std::string& measure, const std::string& figure,
         const std::string& goal, const std::string& verdict)
{
    std::printf("ROW|%s|%s|%s|%s|%s\n", benchmark.c_str(), measure.c_str(), figure.c_str(), goal.c_str(),
                verdict.c_str());
    std::fflush(stdout);
}

void Info(const char* format, ...)
{
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof(text), format, arguments);
    va_end(arguments);
    std::printf("INFO|%s\n", text);
    std::fflush(stdout);
}

std::string Judge(double value, double limit)
{
    if (value <= limit)
        return "met";
    double over = value / limit;
    if (over >= 2.0)
        return Format("missed: %.1fx the goal", over);
    return Format("missed by %.1f%%", (over - 1.0) * 100.0);
}

void Exit(int code)
{
    std::fflush(stdout);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    for (;;)
        Sleep(1000);
}

// ---- The module ----------------------------------------------------------------------------

std::string PathBesideProgram(const char* fileName)
{
    char path[MAX_PATH];
    return FileBesideProgram(fileName, path) ? std::string(path) : std::string(fileName);
}

void ChooseEnglish()
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Dorvane Ltd\\Orvella", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) == ERROR_SUCCESS) {
        DWORD english = 0;
        RegSetValueExA(key, "Lang", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&english), sizeof(english));
        RegCloseKey(key);
    }
}

HMODULE LoadModule()
{
    ChooseEnglish();
    return LoadLibraryA(PathBesideProgram().c_str());
}

HookProc ExportedHook(HMODULE module)
{
    if (!module)
        return nullptr;
    return reinterpret_cast<HookProc>(reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(1))));
}

// ---- Messenger -----------------------------------------------------------------------------

HWND CreateMessenger()
{
    HWND window = nullptr;
    for (int attempt = 0; attempt < 5 && !window; ++attempt) {
        window = sandbox::CreateMessengerWindow();
        if (!window)
            Sleep(500);
    }
    return window;
}

int ProductPopups(HWND window)
{
    HMENU bar = GetMenu(window);
    int count = 0;
    int items = bar ? GetMenuItemCount(bar) : 0;
    for (int position = 0; position < items; ++position) {
        char text[64] = "";
        MENUITEMINFOA item = {};
        item.cbSize = sizeof(item);
        item.fMask = MIIM_SUBMENU | MIIM_STRING;
        item.dwTypeData = text;
        item.cch = sizeof(text);
        if (GetMenuItemInfoA(bar, position, TRUE, &item) && item.hSubMenu && lstrcmpA(text, "Orvella") == 0)
            ++count;
    }
    return count;
}

} // namespace bench
