// Entry point and the state every part of the module shares.
#include "host/module.h"
#include "res/resource.h"
#include "settings/settings_store.h"

HINSTANCE ModuleInstance = nullptr;
UINT LanguageOffset = 0;
HHOOK MenuTriggerHook = nullptr;
HANDLE HookInstalledEvent = nullptr;

const char MessengerWindowClass[] = "MSBLClass";

void LoadLanguageChoice()
{
    LanguageOffset = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKeyPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    // Any type is accepted; only a value that fits 4 bytes and is non-zero selects Russian.
    DWORD lang = 0;
    DWORD size = sizeof(lang);
    if (RegQueryValueExA(key, "Lang", nullptr, nullptr, reinterpret_cast<BYTE*>(&lang), &size) == ERROR_SUCCESS
        && lang != 0)
        LanguageOffset = RUSSIAN_ID_OFFSET;
    RegCloseKey(key);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        ModuleInstance = instance;
        LoadLanguageChoice();
        break;
    case DLL_PROCESS_DETACH:
        if (MenuTriggerHook) {
            UnhookWindowsHookEx(MenuTriggerHook);
            MenuTriggerHook = nullptr;
        }
        if (HookInstalledEvent) {
            CloseHandle(HookInstalledEvent);
            HookInstalledEvent = nullptr;
        }
        break;
    default:
        break;
    }
    return TRUE;
}
