// Version text from the module's own version block, its short tag, and the links that carry it.
#include "about/links.h"
#include "host/module.h"
#include "res/resource.h"
#include <shellapi.h>
#include <winver.h>
#include <cstring>

namespace {

const int ModuleFileNameCapacity = 600;
const int QueryPathCapacity = 300;
const int LinkCapacity = 300;
const char VersionTagPrefix[] = "?forv_";

// Appends the tag unless the address, "?forv_" and the tag would not fit the link buffer;
// an address too long to tag is opened as loaded.
void AppendVersionTag(char* link)
{
    char tag[VersionTagCapacity];
    GetVersionTag(tag);
    int used = lstrlenA(link);
    int needed = lstrlenA(VersionTagPrefix) + lstrlenA(tag);
    if (used + needed >= LinkCapacity)
        return;
    lstrcpynA(link + used, VersionTagPrefix, LinkCapacity - used);
    used += lstrlenA(VersionTagPrefix);
    lstrcpynA(link + used, tag, LinkCapacity - used);
}

HINSTANCE OpenInShell(HWND owner, const char* link)
{
    return ShellExecuteA(owner, "open", link, nullptr, nullptr, SW_SHOWNORMAL);
}

} // namespace

wchar_t* GetVersionText(wchar_t* buffer)
{
    lstrcpynW(buffer, L"???", VersionTextCapacity);

    // Wide calls throughout: the Russian text reads right whatever the ANSI code page.
    wchar_t path[ModuleFileNameCapacity];
    DWORD pathLength = GetModuleFileNameW(ModuleInstance, path, ModuleFileNameCapacity);
    if (pathLength == 0 || pathLength >= static_cast<DWORD>(ModuleFileNameCapacity))
        return buffer;  // a cut path is not our file
    DWORD unused = 0;
    DWORD blockSize = GetFileVersionInfoSizeW(path, &unused);
    if (blockSize == 0)
        return buffer;
    void* block = HeapAlloc(GetProcessHeap(), 0, blockSize);
    if (!block)
        return buffer;
    if (GetFileVersionInfoW(path, 0, blockSize, block)) {
        wchar_t queryPath[QueryPathCapacity] = L"";
        LoadStringW(ModuleInstance, LocalizedId(IDS_VERSION_QUERY_PATH), queryPath, QueryPathCapacity);
        wchar_t* value = nullptr;
        UINT valueLength = 0;
        if (VerQueryValueW(block, queryPath, reinterpret_cast<void**>(&value), &valueLength) && value) {
            // The length (in characters) may count the terminator; a value too long for the
            // buffer is cut.
            UINT copied = 0;
            while (copied < valueLength && copied < static_cast<UINT>(VersionTextCapacity - 1) && value[copied]) {
                buffer[copied] = value[copied];
                ++copied;
            }
            buffer[copied] = L'\0';
        }
    }
    HeapFree(GetProcessHeap(), 0, block);
    return buffer;
}

char* GetVersionTag(char* buffer)
{
    buffer[0] = '\0';
    wchar_t text[VersionTextCapacity];
    GetVersionText(text);
    int length = 0;
    for (const wchar_t* c = text; *c && *c != L','; ++c) {
        if (*c >= L'0' && *c <= L'9' && length < VersionTagCapacity - 1)
            buffer[length++] = static_cast<char>(*c);
    }
    buffer[length] = '\0';
    return buffer;
}

HINSTANCE OpenLink(UINT baseStringId, HWND owner)
{
    char link[LinkCapacity] = "";
    LoadStringA(ModuleInstance, LocalizedId(baseStringId), link, sizeof(link));
    // Mail addresses and fragments are opened exactly as written.
    if (!strstr(link, "mailto:") && !strstr(link, "#"))
        AppendVersionTag(link);
    return OpenInShell(owner, link);
}

HINSTANCE OpenHomepage(HWND owner)
{
    char link[LinkCapacity] = "";
    LoadStringA(ModuleInstance, LocalizedId(IDS_HOMEPAGE_ADDRESS), link, sizeof(link));
    AppendVersionTag(link);
    return OpenInShell(owner, link);
}
