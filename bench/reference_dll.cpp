// orvl_bench_reference.dll: a DLL with nothing in it, built and linked the way OrvlHook.dll is
// (static runtime, stripped). The injection benchmark loads it to tell what loading such a DLL
// costs in Wine from what the module's own start-up adds.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

extern "C" __attribute__((dllexport)) LRESULT CALLBACK ReferenceHook(int, WPARAM, LPARAM)
{
    return 0;
}
