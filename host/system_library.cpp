// Libraries the module loads when it first needs them, not at start-up.
#include "host/module.h"

HMODULE LoadSystemLibrary(const char* name)
{
    // By full path: a bare name would be searched for in the current folder too, which follows
    // Messenger's file dialogs.
    const int NameCapacity = 32;
    char path[MAX_PATH + NameCapacity];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    if (path[length - 1] != '\\')
        path[length++] = '\\';
    lstrcpynA(path + length, name, NameCapacity);
    return LoadLibraryA(path);
}
