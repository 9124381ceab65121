// Damages a heap block on purpose. The test pass runs every program with Wine's heap checking
// (WINEDEBUG warn+heap), and this proves that an overrun is then reported in the output CTest
// reads once the heap is validated, as every test program does before it ends.
#include <windows.h>
#include <cstdio>
#include <cstring>

int main()
{
    HANDLE heap = HeapCreate(0, 0, 0);
    char* block = heap ? static_cast<char*>(HeapAlloc(heap, 0, 20)) : nullptr;
    if (!block)
        return 1;
    // volatile: the compiler must not see (and drop or warn about) the overrun.
    volatile size_t overrun = 21;
    std::memset(block, 'x', overrun);
    BOOL valid = HeapValidate(heap, 0, nullptr);
    std::printf("overrun block: heap %s\n", valid ? "reported valid" : "reported damaged");
    std::fflush(stdout);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}
