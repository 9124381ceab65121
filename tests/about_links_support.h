// Shared by links_test.cpp, about_test.cpp and endurance_test.cpp: patched copies of OrvlHook.dll
// (other strings, another or no version block), the host's handshake for such a copy, Messenger
// with the module or a copy injected, watching the module's calls to the system by replacing
// entries of its import table, and reading what the browser stand-in was given.
#ifndef ORVL_TESTS_ABOUT_LINKS_SUPPORT_H
#define ORVL_TESTS_ABOUT_LINKS_SUPPORT_H

#include "tests/rig/rig.h"
#include "sandbox/browser/browser_log.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace about_support {

// ---- Files -------------------------------------------------------------------------------------

inline std::string OutputFolder()
{
    char path[MAX_PATH] = "";
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string folder(path, length < sizeof(path) ? length : 0);
    size_t slash = folder.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : folder.substr(0, slash);
}

inline std::string ShippedModulePath()
{
    return OutputFolder() + "\\OrvlHook.dll";
}

// A copy of the built module in the temp folder, named after `name` and this process.
inline std::string CopyModule(const char* name)
{
    char folder[MAX_PATH] = "";
    DWORD length = GetTempPathA(sizeof(folder), folder);
    if (length == 0 || length >= sizeof(folder))
        return std::string();
    std::string path = std::string(folder) + name + "_" + std::to_string(GetCurrentProcessId()) + ".dll";
    if (!CopyFileA(ShippedModulePath().c_str(), path.c_str(), FALSE))
        return std::string();
    return path;
}

// ---- Resources of a copy ---------------------------------------------------------------------

// One resource of a module file. Types and names are numeric IDs or strings.
struct ResourceEntry {
    WORD typeId = 0;
    std::string typeName;
    WORD nameId = 0;
    std::string name;
    WORD language = 0;
    std::vector<BYTE> data;

    LPCSTR Type() const { return typeName.empty() ? MAKEINTRESOURCEA(typeId) : typeName.c_str(); }
    LPCSTR Name() const { return name.empty() ? MAKEINTRESOURCEA(nameId) : name.c_str(); }
    bool Is(WORD type, WORD id) const { return typeName.empty() && name.empty() && typeId == type && nameId == id; }
};

struct ResourceWalk { HMODULE image; std::vector<ResourceEntry>* entries; };

inline void SetIdOrName(LPCSTR value, WORD& id, std::string& text)
{
    if (IS_INTRESOURCE(value))
        id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(value));
    else
        text = value;
}

inline BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR type, LPCSTR name, WORD language, LONG_PTR context)
{
    ResourceWalk* walk = reinterpret_cast<ResourceWalk*>(context);
    ResourceEntry entry;
    SetIdOrName(type, entry.typeId, entry.typeName);
    SetIdOrName(name, entry.nameId, entry.name);
    entry.language = language;
    HRSRC found = FindResourceExA(walk->image, type, name, language);
    HGLOBAL loaded = found ? LoadResource(walk->image, found) : nullptr;
    const BYTE* bytes = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    if (bytes)
        entry.data.assign(bytes, bytes + SizeofResource(walk->image, found));
    walk->entries->push_back(entry);
    return TRUE;
}

inline BOOL CALLBACK CollectName(HMODULE image, LPCSTR type, LPSTR name, LONG_PTR context)
{
    EnumResourceLanguagesA(image, type, name, CollectLanguage, context);
    return TRUE;
}

inline BOOL CALLBACK CollectType(HMODULE image, LPSTR type, LONG_PTR context)
{
    EnumResourceNamesA(image, type, CollectName, context);
    return TRUE;
}

// Every resource of the file at `path`.
inline std::vector<ResourceEntry> ReadResources(const std::string& path)
{
    std::vector<ResourceEntry> entries;
    HMODULE image = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!image)
        return entries;
    ResourceWalk walk{image, &entries};
    EnumResourceTypesA(image, CollectType, reinterpret_cast<LONG_PTR>(&walk));
    FreeLibrary(image);
    return entries;
}

// Replaces all resources of the file with `entries`. The whole table is written anew: removing
// single entries through UpdateResource is not honoured everywhere.
inline bool WriteResources(const std::string& path, const std::vector<ResourceEntry>& entries)
{
    HANDLE update = BeginUpdateResourceA(path.c_str(), TRUE);
    if (!update)
        return false;
    for (const ResourceEntry& entry : entries) {
        if (!UpdateResourceA(update, entry.Type(), entry.Name(), entry.language,
                             const_cast<BYTE*>(entry.data.data()), static_cast<DWORD>(entry.data.size()))) {
            EndUpdateResourceA(update, TRUE);
            return false;
        }
    }
    return EndUpdateResourceA(update, FALSE) != FALSE;
}

const WORD StringType = 6;
const WORD VersionType = 16;

inline bool RemoveVersionBlock(const std::string& path)
{
    std::vector<ResourceEntry> entries = ReadResources(path);
    size_t before = entries.size();
    std::vector<ResourceEntry> kept;
    for (const ResourceEntry& entry : entries)
        if (!entry.Is(VersionType, 1))
            kept.push_back(entry);
    return kept.size() + 1 == before && WriteResources(path, kept);
}

// Sets string table rows (UTF-8 texts) of the copy, keeping the other rows of their blocks.
inline bool SetStrings(const std::string& path, const std::vector<std::pair<UINT, std::string>>& rows)
{
    std::vector<ResourceEntry> entries = ReadResources(path);
    for (const auto& row : rows) {
        WORD block = static_cast<WORD>(row.first / 16 + 1);
        ResourceEntry* table = nullptr;
        for (ResourceEntry& entry : entries)
            if (entry.Is(StringType, block))
                table = &entry;
        if (!table)
            return false;
        std::vector<std::wstring> strings;
        size_t at = 0;
        for (int i = 0; i < 16; ++i) {
            if (at + 2 > table->data.size())
                return false;
            WORD length = static_cast<WORD>(table->data[at] | (table->data[at + 1] << 8));
            at += 2;
            if (at + length * 2u > table->data.size())
                return false;
            strings.emplace_back(reinterpret_cast<const wchar_t*>(&table->data[at]), length);
            at += length * 2u;
        }
        strings[row.first % 16] = rig::Wide(row.second);
        table->data.clear();
        for (const std::wstring& text : strings) {
            WORD length = static_cast<WORD>(text.size());
            table->data.push_back(static_cast<BYTE>(length & 0xFF));
            table->data.push_back(static_cast<BYTE>(length >> 8));
            const BYTE* bytes = reinterpret_cast<const BYTE*>(text.data());
            table->data.insert(table->data.end(), bytes, bytes + text.size() * 2);
        }
    }
    return WriteResources(path, entries);
}

// One node of a version block: key, value and children, each child on a 4-byte boundary.
struct VersionNode {
    std::wstring key;
    WORD type = 1;               // 1 text, 0 binary
    std::vector<BYTE> value;
    WORD valueLength = 0;        // characters for text (with the terminator), bytes for binary
    std::vector<VersionNode> children;
};

inline void PadToDword(std::vector<BYTE>& bytes)
{
    while (bytes.size() % 4)
        bytes.push_back(0);
}

inline std::vector<BYTE> SerializeVersionNode(const VersionNode& node)
{
    std::vector<BYTE> bytes(6, 0);
    const BYTE* key = reinterpret_cast<const BYTE*>(node.key.c_str());
    bytes.insert(bytes.end(), key, key + (node.key.size() + 1) * 2);
    PadToDword(bytes);
    bytes.insert(bytes.end(), node.value.begin(), node.value.end());
    for (const VersionNode& child : node.children) {
        PadToDword(bytes);
        std::vector<BYTE> serialized = SerializeVersionNode(child);
        bytes.insert(bytes.end(), serialized.begin(), serialized.end());
    }
    WORD total = static_cast<WORD>(bytes.size());
    bytes[0] = static_cast<BYTE>(total & 0xFF);
    bytes[1] = static_cast<BYTE>(total >> 8);
    bytes[2] = static_cast<BYTE>(node.valueLength & 0xFF);
    bytes[3] = static_cast<BYTE>(node.valueLength >> 8);
    bytes[4] = static_cast<BYTE>(node.type);
    bytes[5] = 0;
    return bytes;
}

inline VersionNode TextValue(const wchar_t* key, const std::string& utf8)
{
    VersionNode node;
    node.key = key;
    std::wstring text = rig::Wide(utf8);
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    node.value.assign(bytes, bytes + (text.size() + 1) * 2);
    node.valueLength = static_cast<WORD>(text.size() + 1);
    return node;
}

inline VersionNode StringTable(const wchar_t* code, const std::string& fileVersion)
{
    VersionNode table;
    table.key = code;
    table.children.push_back(TextValue(L"CompanyName", "Dorvane Ltd"));
    table.children.push_back(TextValue(L"FileVersion", fileVersion));
    table.children.push_back(TextValue(L"InternalName", "OrvlHook"));
    table.children.push_back(TextValue(L"OriginalFilename", "OrvlHook.dll"));
    table.children.push_back(TextValue(L"ProductVersion", "1.0"));
    return table;
}

// Replaces the version block with one whose FileVersion texts (UTF-8) are the given ones.
inline bool SetFileVersionTexts(const std::string& path, const std::string& english, const std::string& russian)
{
    VS_FIXEDFILEINFO fixed = {};
    fixed.dwSignature = 0xFEEF04BD;
    fixed.dwStrucVersion = 0x00010000;
    fixed.dwFileVersionMS = fixed.dwProductVersionMS = 0x00010000;
    fixed.dwFileVersionLS = fixed.dwProductVersionLS = 0x00000002;
    fixed.dwFileFlagsMask = 0x3F;
    fixed.dwFileOS = VOS_NT_WINDOWS32;
    fixed.dwFileType = VFT_DLL;

    VersionNode root;
    root.key = L"VS_VERSION_INFO";
    root.type = 0;
    const BYTE* fixedBytes = reinterpret_cast<const BYTE*>(&fixed);
    root.value.assign(fixedBytes, fixedBytes + sizeof(fixed));
    root.valueLength = sizeof(fixed);

    VersionNode strings;
    strings.key = L"StringFileInfo";
    strings.children.push_back(StringTable(L"040904b0", english));
    strings.children.push_back(StringTable(L"041904b0", russian));
    root.children.push_back(strings);

    VersionNode variables;
    variables.key = L"VarFileInfo";
    VersionNode translation;
    translation.key = L"Translation";
    translation.type = 0;
    const WORD pairs[4] = {0x0409, 1200, 0x0419, 1200};
    const BYTE* pairBytes = reinterpret_cast<const BYTE*>(pairs);
    translation.value.assign(pairBytes, pairBytes + sizeof(pairs));
    translation.valueLength = sizeof(pairs);
    variables.children.push_back(translation);
    root.children.push_back(variables);

    std::vector<ResourceEntry> entries = ReadResources(path);
    for (ResourceEntry& entry : entries) {
        if (entry.Is(VersionType, 1)) {
            entry.data = SerializeVersionNode(root);
            return WriteResources(path, entries);
        }
    }
    return false;
}

// ---- Loading a copy as Messenger would ---------------------------------------------------------

// Chooses the language, then loads the copy (the rig's LoadModule loads only OrvlHook.dll).
inline HMODULE LoadCopy(const std::string& path, bool russian)
{
    rig::SetSettingDword("Lang", russian ? 1 : 0);
    return LoadLibraryA(path.c_str());
}

// The host's side of the handshake for any loaded copy.
inline bool InjectCopy(HMODULE module)
{
    return sandbox::HandshakeInProcess(module);
}

// ---- The About dialog's captions ------------------------------------------------------------------

const char EnglishAboutCaption[] = "About Orvella Add-in for Windows Messenger...";
const char RussianAboutCaption[] = "О плагине Orvella для Windows Messenger...";

// ---- Messenger with a module ---------------------------------------------------------------------

// What a case watches in the module's import table once the module is in (see below).
using ImportWatch = std::function<bool(HMODULE)>;

// Messenger with the module that `load` loads, injected by `inject`, then watched.
inline HWND MessengerWith(const std::function<HMODULE()>& load, const std::function<bool(HMODULE)>& inject,
                          const ImportWatch& watch)
{
    rig::DeleteSettingsKey();
    HWND messenger = rig::CreateMessenger();
    HMODULE module = load();
    EXPECT_NE(nullptr, module) << "the module did not load, error " << GetLastError();
    EXPECT_TRUE(inject(module));
    EXPECT_TRUE(module && watch(module));
    rig::Pump(20);
    return messenger;
}

// Messenger with the shipped module injected as the host does it.
inline HWND InjectedMessenger(rig::Language language, const ImportWatch& watch)
{
    return MessengerWith([&] { return rig::LoadModule(language); }, [](HMODULE) { return rig::InjectAsHost(); },
                         watch);
}

// Messenger with a patched copy injected instead.
inline HWND MessengerWithCopy(const std::string& copy, bool russian, const ImportWatch& watch)
{
    return MessengerWith([&] { return LoadCopy(copy, russian); },
                         [](HMODULE module) { return module && InjectCopy(module); }, watch);
}

// ---- Watching the module's calls ----------------------------------------------------------------

using rig::ReplaceImport;

// What the module asked the shell to open, recorded on the way to the real ShellExecuteA.
struct ShellRequest {
    HWND owner = nullptr;
    std::string verb;
    std::string file;
    bool parameters = false;
    bool directory = false;
    INT show = 0;
    HINSTANCE result = nullptr;
};
using ShellExecuteFunction = HINSTANCE(WINAPI*)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);

inline ShellExecuteFunction& RealShellExecute()
{
    static ShellExecuteFunction real = nullptr;
    return real;
}

// Filled on the thread that runs the module (Messenger's); read it there or after the modal call.
inline std::vector<ShellRequest>& ShellRequests()
{
    static std::vector<ShellRequest> requests;
    return requests;
}

inline HINSTANCE WINAPI RecordingShellExecute(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                                              LPCSTR directory, INT show)
{
    ShellRequest request;
    request.owner = owner;
    request.verb = verb ? verb : "";
    request.file = file ? file : "";
    request.parameters = parameters != nullptr;
    request.directory = directory != nullptr;
    request.show = show;
    request.result = RealShellExecute()(owner, verb, file, parameters, directory, show);
    ShellRequests().push_back(request);
    return request.result;
}

inline bool WatchShellRequests(HMODULE module)
{
    RealShellExecute() = reinterpret_cast<ShellExecuteFunction>(
        ReplaceImport(module, "SHELL32.dll", "ShellExecuteA", reinterpret_cast<void*>(RecordingShellExecute)));
    return RealShellExecute() != nullptr;
}

// The shell's handler for one kind of address, swapped for the length of one case.
class UrlHandler {
public:
    UrlHandler(const char* scheme, const char* command) : key_(std::string(scheme) + "\\shell\\open\\command")
    {
        LONG size = sizeof(saved_);
        hadValue_ = RegQueryValueA(HKEY_CLASSES_ROOT, key_.c_str(), saved_, &size) == ERROR_SUCCESS;
        swapped_ = RegSetValueA(HKEY_CLASSES_ROOT, key_.c_str(), REG_SZ, command, lstrlenA(command)) == ERROR_SUCCESS;
    }
    ~UrlHandler()
    {
        if (hadValue_)
            RegSetValueA(HKEY_CLASSES_ROOT, key_.c_str(), REG_SZ, saved_, lstrlenA(saved_));
    }
    bool Swapped() const { return swapped_; }
    UrlHandler(const UrlHandler&) = delete;
    UrlHandler& operator=(const UrlHandler&) = delete;

private:
    std::string key_;
    char saved_[1024] = "";
    bool hadValue_ = false;
    bool swapped_ = false;
};

// ---- Browser stand-in ---------------------------------------------------------------------------

// How long a started stand-in may take to write its line (a process start under emulation is slow).
const DWORD BrowserTimeoutMs = 20000;
// How long to keep watching for a line that must not come.
const DWORD NoBrowserMs = 3000;

// Waits for the stand-in's lines through the rig, so that a modal loop keeps running meanwhile.
inline bool WaitForBrowserLines(const std::string& log, size_t count, DWORD timeoutMs)
{
    return rig::WaitUntil([&] { return sandbox_browser::ReadLog(log).size() >= count; }, timeoutMs);
}

// Value-parameterised cases that read what the browser stand-in was given: each starts with a
// fresh log.
template <typename Row>
class BrowserCase : public testing::TestWithParam<Row> {
protected:
    void SetUp() override
    {
        log = sandbox_browser::UseFreshLog();
        ASSERT_FALSE(log.empty());
    }
    std::string log;
};

// Lets messages (and a modal loop) run for a while.
inline void Linger(DWORD milliseconds)
{
    rig::WaitUntil([] { return false; }, milliseconds);
}

} // namespace about_support

#endif
