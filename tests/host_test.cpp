// Start-up, the injection handshake, the product menu and the command router, driven as the
// add-in host and Messenger drive them.
#include "tests/about_links_support.h"
#include "tests/rig/rig.h"
#include "sandbox/messenger/messenger_window.h"
#include "res/resource.h"

#include <gtest/gtest.h>

using namespace rig;

namespace {

const char HookInstalledEvent[] = "Orvella Hook Installed";

struct ExpectedItem { UINT id; bool separator; const char* text; };

void ExpectProductPopup(HWND messenger, const ExpectedItem (&expected)[5])
{
    std::vector<MenuItem> bar = MenuItems(GetMenu(messenger));
    ASSERT_FALSE(bar.empty());
    const MenuItem& last = bar.back();
    ASSERT_TRUE(last.popup);
    EXPECT_EQ("Orvella", last.text);
    std::vector<MenuItem> items = MenuItems(last.submenu);
    ASSERT_EQ(5u, items.size());
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(expected[i].separator, items[i].separator) << "item " << i;
        if (!expected[i].separator) {
            EXPECT_EQ(expected[i].id, items[i].id) << "item " << i;
            EXPECT_EQ(expected[i].text, items[i].text) << "item " << i;
        }
    }
}

const ExpectedItem EnglishItems[5] = {
    {IDM_SETTINGS, false, "Settings..."}, {IDM_HELP, false, "Help..."}, {0, true, ""},
    {IDM_HOMEPAGE, false, "Internet Homepage"}, {IDM_ABOUT, false, "About Orvella..."}};
const ExpectedItem RussianItems[5] = {
    {IDM_SETTINGS, false, "Настройка..."}, {IDM_HELP, false, "Справка..."}, {0, true, ""},
    {IDM_HOMEPAGE, false, "Сайт в Интернет"}, {IDM_ABOUT, false, "О программе..."}};

HWND InjectedMessenger(Language language = Language::English)
{
    DeleteSettingsKey();
    HWND messenger = CreateMessenger();
    EXPECT_NE(nullptr, LoadModule(language));
    EXPECT_TRUE(InjectAsHost());
    Pump(20);
    return messenger;
}

void RemoveProductPopup(HWND messenger)
{
    HMENU bar = GetMenu(messenger);
    int last = GetMenuItemCount(bar) - 1;
    // Detach only: the popup handle may be appended again by a later install.
    ASSERT_TRUE(RemoveMenu(bar, last, MF_BYPOSITION));
    DrawMenuBar(messenger);
    ASSERT_EQ(0, CountProductPopups(bar));
}

} // namespace

// ---- Language ----------------------------------------------------------------------------------

TEST(Language, AbsentValueGivesEnglish)
{
    HWND messenger = InjectedMessenger(Language::Absent);
    ExpectProductPopup(messenger, EnglishItems);
}

TEST(Language, AbsentKeyGivesEnglish)
{
    HWND messenger = CreateMessenger();
    ASSERT_NE(nullptr, LoadModule(Language::NoKey));
    ASSERT_TRUE(InjectAsHost());
    ExpectProductPopup(messenger, EnglishItems);
}

TEST(Language, ZeroGivesEnglish)
{
    HWND messenger = InjectedMessenger(Language::English);
    ExpectProductPopup(messenger, EnglishItems);
}

TEST(Language, OneGivesRussian)
{
    HWND messenger = InjectedMessenger(Language::Russian);
    ExpectProductPopup(messenger, RussianItems);
}

namespace {
HWND InjectWithRawLang(DWORD type, const void* data, DWORD size)
{
    DeleteSettingsKey();
    SetSettingRaw("Lang", type, data, size);
    HWND messenger = CreateMessenger();
    EXPECT_NE(nullptr, LoadModule(Language::AsStored));
    EXPECT_TRUE(InjectAsHost());
    Pump(20);
    return messenger;
}
}

TEST(Language, TwoGivesRussian)
{
    DWORD two = 2;
    HWND messenger = InjectWithRawLang(REG_DWORD, &two, sizeof(two));
    ExpectProductPopup(messenger, RussianItems);
}

TEST(Language, StringValueIsReadAsItsBytes)
{
    // "1" as REG_SZ: bytes 31 00, a non-zero number, so Russian.
    HWND messenger = InjectWithRawLang(REG_SZ, "1", 2);
    ExpectProductPopup(messenger, RussianItems);
}

TEST(Language, OneByteValue)
{
    BYTE zero = 0;
    HWND messenger = InjectWithRawLang(REG_BINARY, &zero, 1);
    ExpectProductPopup(messenger, EnglishItems);
}

TEST(Language, OversizedValueGivesEnglish)
{
    BYTE big[64];
    FillMemory(big, sizeof(big), 0x01);
    HWND messenger = InjectWithRawLang(REG_BINARY, big, sizeof(big));
    ExpectProductPopup(messenger, EnglishItems);
}

// ---- Handshake ----------------------------------------------------------------------------------

TEST(Handshake, WithoutHostEventDoesNothing)
{
    DeleteSettingsKey();
    HWND messenger = CreateMessenger();
    HMODULE module = LoadModule(Language::English);
    ASSERT_NE(nullptr, module);
    UINT itemsBefore = GetMenuItemCount(GetMenu(messenger));
    EXPECT_EQ(0, ExportedHook()(0, 0, 0));
    Pump(20);
    EXPECT_FALSE(EventExists(HookInstalledEvent));
    EXPECT_EQ(itemsBefore, static_cast<UINT>(GetMenuItemCount(GetMenu(messenger))));
    EXPECT_EQ(reinterpret_cast<WNDPROC>(sandbox::MessengerWindowProcedure), WindowProcedure(messenger));
    // Not pinned: our one reference is the only one, so the module unloads.
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(nullptr, GetModuleHandleA("OrvlHook.dll"));
}

TEST(Handshake, CompleteRunSignalsPinsAndInstallsTheMenu)
{
    HWND messenger = InjectedMessenger();
    EXPECT_TRUE(EventExists(HookInstalledEvent));
    EXPECT_TRUE(EventSignalled(HookInstalledEvent));
    ExpectProductPopup(messenger, EnglishItems);
    EXPECT_EQ(1, CountProductPopups(GetMenu(messenger)));
    EXPECT_NE(reinterpret_cast<WNDPROC>(sandbox::MessengerWindowProcedure), WindowProcedure(messenger));
    // Pinned: releasing our reference leaves it loaded.
    FreeLibrary(Module());
    EXPECT_NE(nullptr, GetModuleHandleA("OrvlHook.dll"));
}

// Another program's "MSBLClass" window stands above Messenger's when the host injects: the popup
// and the router go to the window of Messenger's own thread, at arrival and at every trigger, and
// the other program's menu bar gets nothing.
TEST(Handshake, AnotherProgramsWindowOfMessengersClassIsPassedOver)
{
    DeleteSettingsKey();
    HWND messenger = CreateMessenger();
    // Another program on the desktop with a window of Messenger's class and a menu bar: the
    // Messenger stand-in, which closes itself as soon as its bar holds an "Orvella" popup.
    MessengerProgram other;
    ASSERT_TRUE(other.Start("--until-menu 120")) << "the other program showed no window";
    if (FindWindowA("MSBLClass", nullptr) != other.window)
        SetWindowPos(other.window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ASSERT_EQ(other.window, FindWindowA("MSBLClass", nullptr)) << "the other program's window is not above";

    ASSERT_NE(nullptr, LoadModule(Language::English));
    ASSERT_TRUE(InjectAsHost());
    Pump(20);
    ExpectProductPopup(messenger, EnglishItems);
    EXPECT_NE(reinterpret_cast<WNDPROC>(sandbox::MessengerWindowProcedure), WindowProcedure(messenger));

    RemoveProductPopup(messenger);
    PostMessageA(messenger, 0x8002, 0, 0);
    Pump(50);
    EXPECT_EQ(1, CountProductPopups(GetMenu(messenger))) << "the trigger did not put the popup back";
    EXPECT_TRUE(other.Running()) << "the other program's menu bar got the popup";
    EXPECT_EQ(other.window, FindWindowA("MSBLClass", nullptr));
}

TEST(Handshake, LaterCallsAfterTheHostClosedItsEventDoNothing)
{
    HWND messenger = InjectedMessenger();
    WNDPROC routed = WindowProcedure(messenger);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(0, ExportedHook()(i, i, i));
    Pump(20);
    EXPECT_EQ(1, CountProductPopups(GetMenu(messenger)));
    EXPECT_EQ(routed, WindowProcedure(messenger));
}

TEST(Handshake, SecondCompleteRunKeepsMessengersProcedure)
{
    HWND messenger = InjectedMessenger();
    WNDPROC routed = WindowProcedure(messenger);
    ASSERT_TRUE(InjectAsHost());
    ASSERT_TRUE(InjectAsHost());
    Pump(20);
    EXPECT_EQ(routed, WindowProcedure(messenger));
    EXPECT_EQ(1, CountProductPopups(GetMenu(messenger)));
    sandbox::ResetMessengerStats();
    EXPECT_EQ(sandbox::MessengerCommandAnswer, SendMessageA(messenger, WM_COMMAND, 4242, 0));
    EXPECT_EQ(1, sandbox::GetMessengerStats().commands);
    // A trigger message after the repeated runs still finds everything in place.
    RemoveProductPopup(messenger);
    PostMessageA(messenger, 0x8002, 0, 0);
    Pump(50);
    EXPECT_EQ(1, CountProductPopups(GetMenu(messenger)));
    EXPECT_EQ(sandbox::MessengerCommandAnswer, SendMessageA(messenger, WM_COMMAND, 4243, 0));
}

TEST(Handshake, NoMessengerWindowThenMenuComesAtTheNextTrigger)
{
    DeleteSettingsKey();
    ASSERT_NE(nullptr, LoadModule(Language::English));
    ASSERT_TRUE(InjectAsHost());
    EXPECT_TRUE(EventExists(HookInstalledEvent));
    HWND messenger = CreateMessenger();
    EXPECT_EQ(0, CountProductPopups(GetMenu(messenger)));
    PostMessageA(messenger, 0x0400, 0, 0);
    Pump(50);
    EXPECT_EQ(1, CountProductPopups(GetMenu(messenger)));
}

// ---- Trigger messages ---------------------------------------------------------------------------

class TriggerMessage : public testing::TestWithParam<UINT> {};

TEST_P(TriggerMessage, PutsAMissingPopupBackExactlyOnce)
{
    HWND messenger = InjectedMessenger();
    RemoveProductPopup(messenger);
    PostMessageA(messenger, GetParam(), 0, 0);
    Pump(50);
    EXPECT_EQ(1, CountProductPopups(GetMenu(messenger)));
    PostMessageA(messenger, GetParam(), 0, 0);
    PostMessageA(messenger, GetParam(), 0, 0);
    Pump(50);
    EXPECT_EQ(1, CountProductPopups(GetMenu(messenger)));
    ExpectProductPopup(messenger, EnglishItems);
}

TEST_P(TriggerMessage, WithThePopupPresentChangesNothing)
{
    HWND messenger = InjectedMessenger();
    // Put a different procedure in place: a run that re-subclassed would replace it.
    WNDPROC routed = WindowProcedure(messenger);
    int itemsBefore = GetMenuItemCount(GetMenu(messenger));
    for (int i = 0; i < 20; ++i)
        PostMessageA(messenger, GetParam(), i, i);
    Pump(50);
    EXPECT_EQ(itemsBefore, GetMenuItemCount(GetMenu(messenger)));
    EXPECT_EQ(routed, WindowProcedure(messenger));
}

TEST_P(TriggerMessage, ReachesTheThreadQueueToo)
{
    HWND messenger = InjectedMessenger();
    RemoveProductPopup(messenger);
    PostThreadMessageA(GetCurrentThreadId(), GetParam(), 0, 0);
    Pump(50);
    EXPECT_EQ(1, CountProductPopups(GetMenu(messenger)));
}

INSTANTIATE_TEST_SUITE_P(Host, TriggerMessage, testing::Values(0x8002u, 0x0400u));

TEST(Trigger, OnlyTheLowWordOfTheMessageNumberCounts)
{
    HWND messenger = InjectedMessenger();
    RemoveProductPopup(messenger);
    PostMessageA(messenger, 0x8003, 0, 0);
    PostMessageA(messenger, WM_USER + 1, 0, 0);
    Pump(50);
    EXPECT_EQ(0, CountProductPopups(GetMenu(messenger)));
    // A number with high bits set but low word 0x8002.
    PostMessageA(messenger, 0x00018002, 0, 0);
    Pump(50);
    EXPECT_EQ(1, CountProductPopups(GetMenu(messenger)));
}

TEST(Trigger, MenuBarStartingWithACommandGetsOnePopupOnly)
{
    DeleteSettingsKey();
    HWND messenger = CreateMessenger(true, false);
    ASSERT_NE(nullptr, LoadModule(Language::English));
    ASSERT_TRUE(InjectAsHost());
    for (int i = 0; i < 10; ++i)
        PostMessageA(messenger, (i & 1) ? 0x8002 : 0x0400, 0, 0);
    Pump(50);
    EXPECT_EQ(1, CountProductPopups(GetMenu(messenger)));
}

TEST(Trigger, WindowWithoutMenuBarIsLeftAlone)
{
    DeleteSettingsKey();
    HWND messenger = CreateMessenger(false);
    ASSERT_NE(nullptr, LoadModule(Language::English));
    ASSERT_TRUE(InjectAsHost());
    PostMessageA(messenger, 0x8002, 0, 0);
    Pump(50);
    EXPECT_EQ(nullptr, GetMenu(messenger));
    EXPECT_EQ(reinterpret_cast<WNDPROC>(sandbox::MessengerWindowProcedure), WindowProcedure(messenger));
    EXPECT_EQ(sandbox::MessengerCommandAnswer, SendMessageA(messenger, WM_COMMAND, 7, 0));
}

TEST(Trigger, ReplacedMenuBarGetsThePopupAgain)
{
    HWND messenger = InjectedMessenger();
    HMENU old = GetMenu(messenger);
    ASSERT_TRUE(SetMenu(messenger, sandbox::CreateMessengerMenuBar()));
    DestroyMenu(old);
    EXPECT_EQ(0, CountProductPopups(GetMenu(messenger)));
    PostMessageA(messenger, 0x8002, 0, 0);
    Pump(50);
    ExpectProductPopup(messenger, EnglishItems);
    EXPECT_EQ(sandbox::MessengerCommandAnswer, SendMessageA(messenger, WM_COMMAND, 9, 0));
}

TEST(Trigger, RecreatedMessengerWindowIsRoutedAgain)
{
    HWND first = InjectedMessenger();
    DestroyWindow(first);
    Pump(20);
    HWND second = CreateMessenger();
    PostMessageA(second, 0x8002, 0, 0);
    Pump(50);
    ExpectProductPopup(second, EnglishItems);
    sandbox::ResetMessengerStats();
    EXPECT_EQ(sandbox::MessengerCommandAnswer, SendMessageA(second, WM_COMMAND, 31, 0));
    EXPECT_EQ(1, sandbox::GetMessengerStats().commands);
    EXPECT_EQ(31u, sandbox::GetMessengerStats().lastCommandId);
}

// ---- Router ------------------------------------------------------------------------------------

TEST(Router, OtherCommandsAndMessagesReachMessenger)
{
    HWND messenger = InjectedMessenger();
    sandbox::ResetMessengerStats();
    EXPECT_EQ(sandbox::MessengerCommandAnswer, SendMessageA(messenger, WM_COMMAND, MAKEWPARAM(1100, 0), 0));
    EXPECT_EQ(sandbox::MessengerCommandAnswer, SendMessageA(messenger, WM_COMMAND, MAKEWPARAM(1103, 1), 0));
    EXPECT_EQ(sandbox::MessengerCommandAnswer, SendMessageA(messenger, WM_COMMAND, sandbox::MessengerCommandSignIn, 0));
    EXPECT_EQ(3, sandbox::GetMessengerStats().commands);
    EXPECT_EQ(static_cast<LRESULT>(sandbox::MessengerQueryAnswer + 77),
              SendMessageA(messenger, sandbox::MessengerQueryMessage, 77, 0));
    EXPECT_EQ(1, sandbox::GetMessengerStats().queries);
}

TEST(Router, RandomCommandIdsReachMessengerWithTheirResults)
{
    HWND messenger = InjectedMessenger();
    sandbox::ResetMessengerStats();
    unsigned seed = 20031204;
    int expected = 0;
    for (int i = 0; i < 2000; ++i) {
        seed = seed * 1103515245u + 12345u;
        WORD id = static_cast<WORD>(seed >> 12);
        if (id == IDM_SETTINGS || id == IDM_HELP || id == IDM_HOMEPAGE || id == IDM_ABOUT)
            continue;
        WORD code = static_cast<WORD>(seed >> 3) & 1;
        ASSERT_EQ(sandbox::MessengerCommandAnswer, SendMessageA(messenger, WM_COMMAND, MAKEWPARAM(id, code), 0)) << id;
        ++expected;
    }
    EXPECT_EQ(expected, sandbox::GetMessengerStats().commands);
}

// ---- Binary -----------------------------------------------------------------------------------

namespace {

const IMAGE_NT_HEADERS* NtHeaders(HMODULE module)
{
    const BYTE* base = reinterpret_cast<const BYTE*>(module);
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    return reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
}

template <typename T> const T* Rva(HMODULE module, DWORD rva)
{
    return reinterpret_cast<const T*>(reinterpret_cast<const BYTE*>(module) + rva);
}

} // namespace

TEST(Binary, ExportsOnlyTheDecoratedHookAtOrdinalOne)
{
    HMODULE module = LoadModule(Language::English);
    ASSERT_NE(nullptr, module);
    const IMAGE_NT_HEADERS* nt = NtHeaders(module);
    EXPECT_EQ(IMAGE_FILE_MACHINE_I386, nt->FileHeader.Machine);
    EXPECT_TRUE(nt->FileHeader.Characteristics & IMAGE_FILE_DLL);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(0u, dir.VirtualAddress);
    const IMAGE_EXPORT_DIRECTORY* exports = Rva<IMAGE_EXPORT_DIRECTORY>(module, dir.VirtualAddress);
    EXPECT_EQ(1u, exports->Base);
    EXPECT_EQ(1u, exports->NumberOfFunctions);
    ASSERT_EQ(1u, exports->NumberOfNames);
    const DWORD* names = Rva<DWORD>(module, exports->AddressOfNames);
    const WORD* ordinals = Rva<WORD>(module, exports->AddressOfNameOrdinals);
    EXPECT_STREQ("?fnOrvlHook@@YGJHIJ@Z", Rva<char>(module, names[0]));
    EXPECT_EQ(0, ordinals[0]);  // biased: ordinal 1
    EXPECT_EQ(nullptr, GetProcAddress(module, "fnOrvlHook"));
    EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(1)), GetProcAddress(module, "?fnOrvlHook@@YGJHIJ@Z"));
}

TEST(Binary, ImportsSystemDllsOnlyAndMapiByOrdinal)
{
    HMODULE module = LoadModule(Language::English);
    ASSERT_NE(nullptr, module);
    const IMAGE_DATA_DIRECTORY& dir = NtHeaders(module)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    const IMAGE_IMPORT_DESCRIPTOR* import = Rva<IMAGE_IMPORT_DESCRIPTOR>(module, dir.VirtualAddress);
    const char* allowed[] = {"KERNEL32.dll", "USER32.dll", "GDI32.dll", "ADVAPI32.dll", "COMCTL32.dll",
                             "SHELL32.dll", "VERSION.dll", "msvcrt.dll", "MAPI32.DLL"};
    bool sawMapi = false;
    for (; import->Name; ++import) {
        const char* name = Rva<char>(module, import->Name);
        bool known = false;
        for (const char* ok : allowed)
            known = known || lstrcmpiA(ok, name) == 0;
        EXPECT_TRUE(known) << "unexpected import " << name;
        if (lstrcmpiA(name, "MAPI32.DLL") == 0) {
            sawMapi = true;
            std::vector<unsigned> seen;
            for (const IMAGE_THUNK_DATA32* thunk = Rva<IMAGE_THUNK_DATA32>(module, import->OriginalFirstThunk);
                 thunk->u1.Ordinal; ++thunk) {
                EXPECT_TRUE(IMAGE_SNAP_BY_ORDINAL32(thunk->u1.Ordinal)) << "MAPI32 imported by name";
                seen.push_back(IMAGE_ORDINAL32(thunk->u1.Ordinal));
            }
            for (unsigned ordinal : seen)
                EXPECT_TRUE(ordinal == 11 || ordinal == 17 || ordinal == 19 || ordinal == 21 || ordinal == 23
                            || ordinal == 140) << ordinal;
        }
    }
    EXPECT_TRUE(sawMapi);
}

TEST(Binary, StringTablesInBothLanguages)
{
    ASSERT_NE(nullptr, LoadModule(Language::English));
    struct Row { UINT id; const char* english; const char* russian; };
    const Row rows[] = {
        {106, "Logon", "Подключение"},
        {107, "Orvella Settings", "Настройки Orvella"},
        {108, "n/a", "н/д"},
        {109, "Logon error. Error code is %08x.\r\n\r\nNote, that Outlook 2000/XP or later should be set as default mailer to provide MAPI service for addin.",
              "Ошибка с кодом %08x.\r\n\r\nОбратите внимание, что Outlook 2000/XP или более поздний должен быть установлен как почтовая программа по умолчанию."},
        {110, "We are successfully logged to Microsoft Exchange account.\r\n\r\n", "Мы успешно зашли в аккаунт Microsoft Exchange.\r\n\r\n"},
        {111, "We are successfully logged, but it is not Microsoft Exchange server. Please, check information below.\r\n\r\n",
              "Вход в аккаунт произведен успешно, но это не сервер Microsoft Exchange. Пожалуйста, проверьте информацию:\r\n\r\n"},
        {112, "We are successfully logged, but unable to get access to messages store and get information about service type. It is possible, that this error is temporary.\r\n\r\nNote, that Outlook 2000/XP or later should be set as default mailer to provide MAPI service for addin.",
              "Вход в аккаунт произведен успешно, но невозможно получить доступ к хранилищу сообщений.\r\n\r\nОбратите внимание, что Outlook 2000/XP или более поздний должен быть установлен как почтовая программа по умолчанию."},
        {113, "Service: %s\r\n\r\n   Account: %s\r\n   User name: %s\r\n   E-mail: %s\r\n   SMTP e-mail: %s",
              "Сервис: %s\r\n\r\n   Аккаунт: %s\r\n   Имя пользователя: %s\r\n   Эл. почта: %s\r\n   Эл. почта (SMTP): %s"},
        {114, "Test logon to Microsoft Exchange Server", "Тестовый вход на сервер Microsoft Exchange"},
        {116, "\\StringFileInfo\\040904B0\\FileVersion", "\\StringFileInfo\\041904B0\\FileVersion"},
        {129, "Orvella.chm", "Orvella.chm"},
        {130, "htmls", "htmls_r"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.english, ModuleString(row.id)) << row.id;
        EXPECT_EQ(row.russian, ModuleString(row.id + 100)) << row.id + 100;
    }
    // Addresses: English web pages; Russian a web page and a mailto: address, never a bare e-mail.
    EXPECT_EQ(0u, ModuleString(115).find("https://"));
    EXPECT_EQ(0u, ModuleString(128).find("https://"));
    EXPECT_EQ(0u, ModuleString(215).find("https://"));
    EXPECT_EQ(0u, ModuleString(228).find("mailto:"));
    EXPECT_NE(std::string::npos, ModuleString(115).find(".example"));
    EXPECT_NE(std::string::npos, ModuleString(128).find(".example"));
}

TEST(Binary, MenusInBothLanguages)
{
    HMODULE module = LoadModule(Language::English);
    ASSERT_NE(nullptr, module);
    for (int language = 0; language < 2; ++language) {
        HMENU menu = LoadMenuW(module, MAKEINTRESOURCEW(101 + 100 * language));
        ASSERT_NE(nullptr, menu);
        std::vector<MenuItem> top = MenuItems(menu);
        ASSERT_EQ(1u, top.size());
        EXPECT_TRUE(top[0].popup);
        EXPECT_EQ("Orvella", top[0].text);
        std::vector<MenuItem> items = MenuItems(top[0].submenu);
        const ExpectedItem (&expected)[5] = language ? RussianItems : EnglishItems;
        ASSERT_EQ(5u, items.size());
        for (size_t i = 0; i < 5; ++i) {
            EXPECT_EQ(expected[i].separator, items[i].separator);
            if (!expected[i].separator) {
                EXPECT_EQ(expected[i].id, items[i].id);
                EXPECT_EQ(expected[i].text, items[i].text);
            }
        }
        DestroyMenu(menu);
    }
}

TEST(Binary, VersionBlock)
{
    HMODULE module = LoadModule(Language::English);
    ASSERT_NE(nullptr, module);
    wchar_t path[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameW(module, path, MAX_PATH));
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &handle);
    ASSERT_NE(0u, size);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(0x00010000u, fixed->dwFileVersionMS);
    EXPECT_EQ(0x00000002u, fixed->dwFileVersionLS);
    EXPECT_EQ(0x00010000u, fixed->dwProductVersionMS);
    EXPECT_EQ(0x00000002u, fixed->dwProductVersionLS);
    struct Value { const wchar_t* path; const char* text; };
    const Value values[] = {
        {L"\\StringFileInfo\\040904b0\\FileVersion", "1.0, released on February 4, 2003"},
        {L"\\StringFileInfo\\041904b0\\FileVersion", "1.0, выпущена 4 февраля 2003 года"},
        {L"\\StringFileInfo\\040904b0\\ProductVersion", "1.0"},
        {L"\\StringFileInfo\\041904b0\\ProductVersion", "1.0"},
        {L"\\StringFileInfo\\040904b0\\InternalName", "OrvlHook"},
        {L"\\StringFileInfo\\041904b0\\InternalName", "OrvlHook"},
        {L"\\StringFileInfo\\040904b0\\OriginalFilename", "OrvlHook.dll"},
        {L"\\StringFileInfo\\041904b0\\OriginalFilename", "OrvlHook.dll"},
    };
    for (const Value& value : values) {
        wchar_t* text = nullptr;
        ASSERT_TRUE(VerQueryValueW(block.data(), value.path, reinterpret_cast<void**>(&text), &length)) << Utf8(value.path);
        EXPECT_EQ(value.text, Utf8(text)) << Utf8(value.path);
    }
    DWORD* translations = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations), &length));
    ASSERT_EQ(8u, length);
    EXPECT_EQ(0x04B00409u, translations[0]);
    EXPECT_EQ(0x04B00419u, translations[1]);
}

TEST(Binary, IconAndHandCursor)
{
    HMODULE module = LoadModule(Language::English);
    ASSERT_NE(nullptr, module);
    EXPECT_NE(nullptr, FindResourceA(module, MAKEINTRESOURCEA(115), RT_GROUP_ICON));
    HRSRC cursorGroup = FindResourceA(module, MAKEINTRESOURCEA(124), RT_GROUP_CURSOR);
    ASSERT_NE(nullptr, cursorGroup);
    HCURSOR cursor = LoadCursorA(module, MAKEINTRESOURCEA(124));
    ASSERT_NE(nullptr, cursor);
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(cursor, &info));
    EXPECT_FALSE(info.fIcon);
    EXPECT_EQ(12u, info.xHotspot);
    EXPECT_EQ(1u, info.yHotspot);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    if (info.hbmColor) DeleteObject(info.hbmColor);
}

// ---- What Messenger, the host and the module's own file may do to it ---------------------------

namespace {

const WORD MenuResourceType = 4;   // RT_MENU

// A copy of the module whose product menu (both languages) is `menu`, or has none when it is empty.
std::string CopyWithProductMenu(const char* name, const std::vector<BYTE>& menu)
{
    std::string path = about_support::CopyModule(name);
    if (path.empty())
        return path;
    std::vector<about_support::ResourceEntry> kept;
    int replaced = 0;
    for (about_support::ResourceEntry& entry : about_support::ReadResources(path)) {
        if (entry.Is(MenuResourceType, IDR_PRODUCT_MENU) || entry.Is(MenuResourceType, IDR_PRODUCT_MENU + RUSSIAN_ID_OFFSET)) {
            ++replaced;
            if (menu.empty())
                continue;
            entry.data = menu;
        }
        kept.push_back(entry);
    }
    if (replaced != 2 || !about_support::WriteResources(path, kept))
        return std::string();
    return path;
}

// A menu template whose only item is a plain command: no popup to hand to Messenger.
std::vector<BYTE> MenuWithoutPopup()
{
    std::vector<BYTE> bytes(4, 0);   // version 0, no extra header
    const WORD item[] = {MF_END, IDM_SETTINGS, L'S', L'e', L't', L't', L'i', L'n', L'g', L's', 0};
    const BYTE* itemBytes = reinterpret_cast<const BYTE*>(item);
    bytes.insert(bytes.end(), itemBytes, itemBytes + sizeof(item));
    return bytes;
}

// A copy of the module at a path of exactly `length` characters, in folders made for it.
std::wstring DeepModuleCopy(size_t length, std::vector<std::wstring>& folders)
{
    wchar_t temp[MAX_PATH] = L"";
    DWORD tempLength = GetTempPathW(MAX_PATH, temp);
    if (tempLength == 0 || tempLength >= MAX_PATH)
        return std::wstring();
    const std::wstring file = L"OrvlHook.dll";
    std::wstring folder = std::wstring(temp) + L"orvl_deep_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                          std::to_wstring(length);
    if (!CreateDirectoryW(folder.c_str(), nullptr))
        return std::wstring();
    folders.push_back(folder);
    while (folder.size() + 1 + file.size() < length) {
        size_t room = length - (folder.size() + 1 + file.size());
        // Each further folder takes a separator too; never leave a remainder of one character.
        size_t segment = room > 61 ? 50 : room - 1;
        folder += L"\\" + std::wstring(segment, L'd');
        if (!CreateDirectoryW(folder.c_str(), nullptr))
            return std::wstring();
        folders.push_back(folder);
    }
    std::wstring path = folder + L"\\" + file;
    std::wstring shipped = rig::Wide(about_support::ShippedModulePath());
    if (path.size() != length || !CopyFileW(shipped.c_str(), path.c_str(), FALSE))
        return std::wstring();
    return path;
}

} // namespace

// Messenger destroys its menu bar without taking it off the window: the module's appending fails
// there, costs no menu and leaves the window alone; a new bar gets the popup at the next trigger.
TEST(Trigger, DestroyedMenuBarIsLeftAloneUntilMessengerSetsANewOne)
{
    HWND messenger = InjectedMessenger();
    ASSERT_TRUE(DestroyMenu(GetMenu(messenger)));
    ProcessResources before = CountProcessResources();
    for (int i = 0; i < 10; ++i)
        PostMessageA(messenger, i % 2 ? 0x8002 : 0x0400, 0, 0);
    Pump(50);
    EXPECT_EQ(0, Growth(before, CountProcessResources()).menus) << "a loaded menu was not destroyed";
    EXPECT_TRUE(MessengerResponds(messenger));
    ASSERT_TRUE(SetMenu(messenger, sandbox::CreateMessengerMenuBar()));
    PostMessageA(messenger, 0x8002, 0, 0);
    Pump(50);
    ExpectProductPopup(messenger, EnglishItems);
    EXPECT_EQ(sandbox::MessengerCommandAnswer, SendMessageA(messenger, WM_COMMAND, 9, 0));
}

// A module file whose product menu is missing, or holds no popup: the host still gets its answer,
// Messenger's bar and procedure stay as they were, and no menu is left over.
TEST(Trigger, ProductMenuThatCannotBeLoadedOrHasNoPopupLeavesMessengerAlone)
{
    struct Shape { const char* name; std::vector<BYTE> menu; };
    const Shape shapes[] = {{"orvl_no_menu", {}}, {"orvl_no_popup", MenuWithoutPopup()}};
    DeleteSettingsKey();
    HWND messenger = CreateMessenger();
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.name);
        std::string path = CopyWithProductMenu(shape.name, shape.menu);
        ASSERT_FALSE(path.empty());
        HMODULE copy = about_support::LoadCopy(path, false);
        ASSERT_NE(nullptr, copy);
        int items = GetMenuItemCount(GetMenu(messenger));
        ProcessResources before = CountProcessResources();
        EXPECT_TRUE(about_support::InjectCopy(copy)) << "the host got no answer";
        PostMessageA(messenger, 0x8002, 0, 0);
        Pump(50);
        EXPECT_EQ(0, Growth(before, CountProcessResources()).menus) << "a loaded menu was not destroyed";
        EXPECT_EQ(items, GetMenuItemCount(GetMenu(messenger)));
        EXPECT_EQ(reinterpret_cast<WNDPROC>(sandbox::MessengerWindowProcedure), WindowProcedure(messenger));
        EXPECT_TRUE(MessengerResponds(messenger));
    }
}

// The host loads the module from a folder deeper than MAX_PATH (the host's own LoadLibraryW takes
// such a path), or Windows refuses a call the module settles in with. The module pins itself by
// the same wide path, so at 300 characters it stays and installs its menu. From 521 characters on,
// or when its name cannot be read or loaded again, it answers the host but installs no hook and
// no menu, so that the host's FreeLibrary unloads it with nothing of it left in Messenger. A
// refused hook leaves it pinned without a menu; a refused window call leaves the menu unrouted,
// never half routed.
struct DeepFolder {
    size_t length;
    const char* dll;
    const char* refused;  // the function Windows refuses, or null
    int arguments;
    bool pinned, menu, routed;
};

void PrintTo(const DeepFolder& row, std::ostream* out)
{
    *out << row.length << " " << (row.refused ? row.refused : "");
}

class DeepFolderHandshake : public testing::TestWithParam<DeepFolder> {};

TEST_P(DeepFolderHandshake, ModuleSettlesInAsFarAsItCan)
{
    const DeepFolder& row = GetParam();
    DeleteSettingsKey();
    HWND messenger = CreateMessenger();
    const WNDPROC own = reinterpret_cast<WNDPROC>(sandbox::MessengerWindowProcedure);
    std::vector<std::wstring> folders;
    std::wstring path = DeepModuleCopy(row.length, folders);
    ASSERT_FALSE(path.empty());
    HMODULE copy = LoadLibraryW(path.c_str());
    ASSERT_NE(nullptr, copy);
    if (row.refused) {
        ASSERT_NE(nullptr, RefuseImport(copy, row.dll, row.refused, row.arguments));
    }
    EXPECT_TRUE(about_support::InjectCopy(copy)) << "the host got no answer";
    EXPECT_EQ(row.menu, EventExists(HookInstalledEvent));
    // Without a menu-trigger hook, a trigger while the module is loaded changes nothing.
    PostMessageA(messenger, 0x8002, 0, 0);
    Pump(50);
    EXPECT_EQ(row.menu ? 1 : 0, CountProductPopups(GetMenu(messenger)));
    EXPECT_EQ(row.routed, WindowProcedure(messenger) != own);
    EXPECT_TRUE(FreeLibrary(copy));
    EXPECT_EQ(row.pinned, GetModuleHandleW(path.c_str()) != nullptr) << "pinned or not";
    PostMessageA(messenger, 0x8002, 0, 0);
    Pump(50);
    EXPECT_TRUE(MessengerResponds(messenger));
    if (row.pinned)
        return;
    EXPECT_EQ(own, WindowProcedure(messenger));
    DeleteFileW(path.c_str());
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder)
        RemoveDirectoryW(folder->c_str());
}

INSTANTIATE_TEST_SUITE_P(Lengths, DeepFolderHandshake,
                         testing::Values(DeepFolder{300, nullptr, nullptr, 0, true, true, true},
                                         DeepFolder{540, nullptr, nullptr, 0, false, false, false},
                                         DeepFolder{100, "KERNEL32.dll", "GetModuleFileNameW", 3, false, false, false},
                                         DeepFolder{100, "KERNEL32.dll", "LoadLibraryW", 1, false, false, false},
                                         DeepFolder{100, "USER32.dll", "SetWindowsHookExA", 4, true, false, false},
                                         DeepFolder{100, "USER32.dll", "GetWindowLongW", 2, true, true, false},
                                         DeepFolder{100, "USER32.dll", "SetPropW", 3, true, true, false},
                                         DeepFolder{100, "USER32.dll", "SetWindowLongW", 3, true, true, false}));

// Another program of the session has used up the global atom table, where the router keeps the
// names of its window properties. The popup still comes, but Messenger's procedure is left as it
// is: never half routed, with one property made and the other not. Once atoms are free again, the
// next trigger routes.
TEST(Trigger, FullAtomTableLeavesMessengerUnroutedUntilAtomsAreFree)
{
    std::vector<ATOM> fillers;
    struct Release {
        std::vector<ATOM>& atoms;
        ~Release() { for (ATOM atom : atoms) GlobalDeleteAtom(atom); }
    } release{fillers};
    // Global atoms outlive the processes that made them: start from a session in which no module
    // has made the router's two yet.
    for (const wchar_t* name : {L"OrvlHook Replaced Procedure", L"OrvlHook Ansi Chain"}) {
        for (int i = 0; i < 100000 && GlobalFindAtomW(name); ++i)
            GlobalDeleteAtom(GlobalFindAtomW(name));
        ASSERT_EQ(0, GlobalFindAtomW(name));
    }
    DeleteSettingsKey();
    HWND messenger = CreateMessenger();
    ASSERT_NE(nullptr, LoadModule(Language::English));
    for (int i = 0; i < 0x10000; ++i) {
        wchar_t name[32];
        wsprintfW(name, L"orvl filler %d", i);
        ATOM atom = GlobalAddAtomW(name);
        if (!atom)
            break;
        fillers.push_back(atom);
    }
    ASSERT_EQ(0, GlobalAddAtomW(L"orvl one more")) << "the atom table did not fill";
    const WNDPROC own = reinterpret_cast<WNDPROC>(sandbox::MessengerWindowProcedure);

    // No atom at all, then room for one of the two.
    for (int room = 0; room < 2; ++room) {
        SCOPED_TRACE(room ? "room for one atom" : "no room");
        if (room) {
            GlobalDeleteAtom(fillers.back());
            fillers.pop_back();
        }
        if (room == 0) {
            ASSERT_TRUE(InjectAsHost());
        } else {
            PostMessageA(messenger, 0x8002, 0, 0);
        }
        Pump(50);
        EXPECT_EQ(1, CountProductPopups(GetMenu(messenger)));
        EXPECT_EQ(own, WindowProcedure(messenger));
        sandbox::ResetMessengerStats();
        EXPECT_EQ(sandbox::MessengerCommandAnswer, SendMessageA(messenger, WM_COMMAND, 4242, 0));
        EXPECT_EQ(1, sandbox::GetMessengerStats().commands);
    }

    for (ATOM atom : fillers)
        GlobalDeleteAtom(atom);
    fillers.clear();
    PostMessageA(messenger, 0x8002, 0, 0);
    Pump(50);
    EXPECT_NE(own, WindowProcedure(messenger)) << "not routed once atoms were free";
    EXPECT_EQ(1, CountProductPopups(GetMenu(messenger)));
    sandbox::ResetMessengerStats();
    EXPECT_EQ(sandbox::MessengerCommandAnswer, SendMessageA(messenger, WM_COMMAND, 4243, 0));
    EXPECT_EQ(1, sandbox::GetMessengerStats().commands);
    EXPECT_TRUE(MessengerResponds(messenger));
}
