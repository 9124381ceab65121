// ntdll's DLL notifications (LdrRegisterDllNotification, Windows Vista and later; Wine has it
// too): every DLL the loader brings in, even one that is unloaded again before LoadLibrary
// returns. For the programs that watch what loading the module brings in.
#ifndef ORVL_SANDBOX_COMMON_LOADER_NOTIFICATIONS_H
#define ORVL_SANDBOX_COMMON_LOADER_NOTIFICATIONS_H

#include <windows.h>

namespace sandbox {

const ULONG DllNotificationLoaded = 1;   // LDR_DLL_NOTIFICATION_REASON_LOADED

struct CountedText {
    USHORT length;    // in bytes
    USHORT capacity;
    PWSTR buffer;
};
struct LoadedDll {
    ULONG flags;
    const CountedText* fullName;
    const CountedText* baseName;
    PVOID base;
    ULONG size;
};
using DllNotification = VOID(CALLBACK*)(ULONG reason, const LoadedDll* data, PVOID context);
using RegisterDllNotification = LONG(NTAPI*)(ULONG flags, DllNotification callback, PVOID context, PVOID* cookie);

// ntdll's registration function, or null where the loader has none.
inline RegisterDllNotification LoaderNotifications()
{
    return reinterpret_cast<RegisterDllNotification>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "LdrRegisterDllNotification")));
}

// The DLL's base name in `name` (capacity characters with the terminator), as plain ASCII.
inline void CopyBaseName(const LoadedDll* data, char* name, int capacity)
{
    int characters = data->baseName->length / 2;
    int i = 0;
    for (; i < characters && i < capacity - 1; ++i)
        name[i] = static_cast<char>(data->baseName->buffer[i]);
    name[i] = '\0';
}

} // namespace sandbox

#endif
