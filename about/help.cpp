// Topics of Orvella.chm in the HTML Help viewer. The viewer's control is loaded on the first
// request, not linked, so that Messenger starts even where HTML Help is not installed.
#include "about/help.h"
#include "host/module.h"
#include "res/resource.h"

namespace {

typedef HWND (WINAPI* HtmlHelpProc)(HWND caller, LPCSTR file, UINT command, DWORD_PTR data);

const char HelpControlName[] = "hhctrl.ocx";
const WORD HtmlHelpOrdinal = 14;        // HtmlHelpA
const UINT HelpDisplayTopic = 0x0000;   // HH_DISPLAY_TOPIC
const UINT HelpInitialize = 0x001C;     // HH_INITIALIZE
const UINT HelpPretranslate = 0x00FD;   // HH_PRETRANSLATEMESSAGE

const int HelpNameCapacity = 30;
const int HelpPathCapacity = MAX_PATH;
const int ModuleNameCapacity = 521;     // as the module reads its name to pin itself
const int TopicAddressCapacity = 532;

// Set once and kept: the control is never unloaded and the path never changes, because the
// language is fixed while the module is loaded.
HMODULE HelpControl = nullptr;
HtmlHelpProc HtmlHelpEntry = nullptr;
char HelpFileName[HelpNameCapacity];
char HelpTopicFolder[HelpNameCapacity];
char HelpFilePath[HelpPathCapacity];
DWORD HelpCookie = 0;

// The wide text in the ANSI code page, whole and without a stand-in for any character; false
// when the code page cannot spell it or it does not fit.
bool ToAnsiExactly(const wchar_t* text, char* buffer, int capacity)
{
    BOOL usedStandIn = FALSE;
    // UTF-8 spells everything, and refuses to be asked about stand-ins.
    bool utf8 = GetACP() == CP_UTF8;
    int written = WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, text, -1, buffer, capacity, nullptr,
                                      utf8 ? nullptr : &usedStandIn);
    return written > 0 && !usedStandIn;
}

// Cuts a path to its folder, keeping the last separator; a bare file name leaves nothing. Cut
// in the wide text: in a double-byte code page a backslash byte may be half of a character.
void CutToFolder(wchar_t* path)
{
    int end = lstrlenW(path);
    while (end > 0 && path[end - 1] != L'\\' && path[end - 1] != L'/')
        --end;
    path[end] = L'\0';
}

// The folder (with its separator) in the ANSI code page, then the help file name, in
// HelpFilePath: the viewer's entry point takes an ANSI path of at most MAX_PATH. False when the
// code page cannot spell the folder or the path would not fit.
bool SetHelpFilePath(const wchar_t* folder)
{
    char ansiFolder[HelpPathCapacity];
    if (!ToAnsiExactly(folder, ansiFolder, HelpPathCapacity))
        return false;
    int end = lstrlenA(ansiFolder);
    if (end + lstrlenA(HelpFileName) >= HelpPathCapacity)
        return false;
    lstrcpynA(HelpFilePath, ansiFolder, HelpPathCapacity);
    lstrcpynA(HelpFilePath + end, HelpFileName, HelpPathCapacity - end);
    return true;
}

// A drive path given with the prefix that lifts MAX_PATH (\\?\C:\...), without it.
const int LongPrefixLength = 4;
const wchar_t* WithoutLongPrefix(const wchar_t* path)
{
    wchar_t head[LongPrefixLength + 3] = L"";  // the prefix, a drive letter, ":", terminator
    lstrcpynW(head, path, LongPrefixLength + 3);
    head[LongPrefixLength] = L'C';       // any drive letter
    return lstrcmpiW(head, L"\\\\?\\C:") == 0 ? path + LongPrefixLength : path;
}

// The folder of the module's short name, where its volume gives one. A drive path is looked up
// with the prefix that lifts MAX_PATH, so that a folder too deep for the viewer has one too.
bool ShortFolderOf(const wchar_t* moduleName, wchar_t* folder)
{
    wchar_t asked[LongPrefixLength + ModuleNameCapacity] = L"";
    if (moduleName[1] == L':')
        lstrcpyW(asked, L"\\\\?\\");
    lstrcpynW(asked + lstrlenW(asked), moduleName, ModuleNameCapacity);

    wchar_t shortName[LongPrefixLength + ModuleNameCapacity];
    const DWORD capacity = sizeof(shortName) / sizeof(shortName[0]);
    DWORD length = GetShortPathNameW(asked, shortName, capacity);
    if (length == 0 || length >= capacity)
        return false;  // no short form: help stays silent rather than open another file
    lstrcpynW(folder, WithoutLongPrefix(shortName), ModuleNameCapacity);
    CutToFolder(folder);
    return true;
}

// The module's own folder and the help file name, in HelpFilePath: the folder as it is, or its
// short form where the code page cannot spell it or it is too deep for the viewer. False when
// the name cannot be read whole or neither form serves.
bool MakeHelpFilePath()
{
    wchar_t moduleName[ModuleNameCapacity] = L"";
    DWORD length = GetModuleFileNameW(ModuleInstance, moduleName, ModuleNameCapacity);
    if (length == 0 || length >= static_cast<DWORD>(ModuleNameCapacity))
        return false;  // a cut name has no trustworthy folder
    const wchar_t* name = WithoutLongPrefix(moduleName);
    wchar_t folder[ModuleNameCapacity];
    lstrcpynW(folder, name, ModuleNameCapacity);
    CutToFolder(folder);
    if (SetHelpFilePath(folder))
        return true;
    return ShortFolderOf(name, folder) && SetHelpFilePath(folder);
}

} // namespace

int InitHelp()
{
    if (HelpControl && HtmlHelpEntry)
        return 1;

    LoadStringA(ModuleInstance, LocalizedId(IDS_HELP_FILE_NAME), HelpFileName, HelpNameCapacity);
    LoadStringA(ModuleInstance, LocalizedId(IDS_HELP_TOPIC_FOLDER), HelpTopicFolder, HelpNameCapacity);

    if (!HelpControl) {
        HelpControl = LoadSystemLibrary(HelpControlName);
        if (!HelpControl)
            return 0;  // tried again on the next request
    }

    // The entry point is kept only once the path is made too, so that a failed set-up is
    // repeated from here on the next request instead of counting as ready.
    // From FARPROC through the generic function type void (*)(): a function pointer stays a
    // function pointer (no void*), and GCC's -Wcast-function-type accepts that type either way.
    HtmlHelpProc entry = reinterpret_cast<HtmlHelpProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(HelpControl, MAKEINTRESOURCEA(HtmlHelpOrdinal))));
    if (!entry)
        return 0;
    if (!MakeHelpFilePath())
        return 0;
    HtmlHelpEntry = entry;

    HtmlHelpEntry(nullptr, nullptr, HelpInitialize, reinterpret_cast<DWORD_PTR>(&HelpCookie));
    return 1;
}

HWND OpenHelpTopic(HWND owner, const char* topic)
{
    if (!InitHelp())
        return nullptr;
    if (!topic)
        return nullptr;

    // "<path>::/<folder>/<topic>"; an address that would not fit is not shown cut short.
    char address[TopicAddressCapacity];
    int needed = lstrlenA(HelpFilePath) + lstrlenA(HelpTopicFolder) + lstrlenA(topic) + 5;
    if (needed > TopicAddressCapacity)
        return nullptr;
    wsprintfA(address, "%s::/%s/%s", HelpFilePath, HelpTopicFolder, topic);

    return HtmlHelpEntry(owner, address, HelpDisplayTopic, 0);
}

bool HelpTakesMessage(MSG* message)
{
    if (!HtmlHelpEntry)
        return false;  // help not set up: no viewer, and no control is loaded for a key
    return HtmlHelpEntry(nullptr, nullptr, HelpPretranslate, reinterpret_cast<DWORD_PTR>(message)) != nullptr;
}
