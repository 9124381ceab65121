// Other add-ins in Messenger's process: they subclass the same main window (above the module or
// below it, with the "W" or the "A" calls, coming and going) and hook the same thread. Through
// menu rebuilds and repeated handshakes every ordinary message still reaches Messenger's own
// procedure exactly once with its result, the product's commands reach the module only, a
// Unicode window stays Unicode and its texts arrive whole, and other hooks see every message.
#include "tests/about_links_support.h"
#include "tests/rig/neighbour.h"
#include "tests/rig/rig.h"
#include "sandbox/messenger/messenger_window.h"
#include "res/resource.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <ostream>

using namespace rig;
using sandbox::CharacterSet;

namespace {

const char* Name(CharacterSet set) { return set == CharacterSet::Unicode ? "Unicode" : "ANSI"; }

class Coexistence : public testing::Test {
protected:
    HWND messenger = nullptr;
    bool windowUnicode = true;   // what the window is, given the neighbours' own subclassing
    std::unique_ptr<about_support::UrlHandler> noBrowser;
    bool watchingShell = false;

    void SetUp() override
    {
        // Homepage requests go to a handler that fails at once: no browser starts.
        noBrowser.reset(new about_support::UrlHandler("https", "\"C:\\orvella-no-browser.exe\" \"%1\""));
        ASSERT_TRUE(noBrowser->Swapped());
        DeleteSettingsKey();
    }

    void Start(CharacterSet window = CharacterSet::Unicode)
    {
        messenger = CreateMessenger(true, true, window);
        ASSERT_NE(nullptr, messenger);
        ASSERT_EQ(window == CharacterSet::Unicode, IsWindowUnicode(messenger) != FALSE);
        NoteCharacterSet();
        ASSERT_NE(nullptr, LoadModule(Language::English));
    }

    void Inject()
    {
        ASSERT_TRUE(InjectAsHost());
        Pump(20);
        if (!watchingShell) {
            watchingShell = about_support::WatchShellRequests(Module());
            ASSERT_TRUE(watchingShell);
        }
    }

    // Messenger loses the popup; a trigger message (window or thread, 0x8002 or 0x0400) brings it back.
    void RebuildMenu(int round)
    {
        HMENU bar = GetMenu(messenger);
        ASSERT_TRUE(DeleteMenu(bar, GetMenuItemCount(bar) - 1, MF_BYPOSITION));
        ASSERT_EQ(0, CountProductPopups(bar));
        UINT trigger = round % 2 ? 0x8002 : 0x0400;
        if (round % 4 < 2)
            ASSERT_TRUE(PostMessageW(messenger, trigger, 0, 0));
        else
            ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), trigger, 0, 0));
        Pump(30);
    }

    // A neighbour's own subclassing may change what the window is; the module never may.
    void NoteCharacterSet() { windowUnicode = IsWindowUnicode(messenger) != FALSE; }

    // Menu rebuilds, repeated handshakes, and both at once.
    void Upheaval(int round)
    {
        if (round % 3 != 1)
            RebuildMenu(round);
        if (round % 3 != 0)
            Inject();
    }

    // inChain: the neighbours whose procedures are in the window's chain now.
    void ExpectChainSound(const std::vector<NeighbourSubclass*>& inChain, const std::string& when)
    {
        SCOPED_TRACE(when);
        for (NeighbourSubclass* neighbour : inChain) {
            EXPECT_FALSE(neighbour->LoopCut()) << "messages went round the chain";
            neighbour->ResetCounts();
        }
        ASSERT_TRUE(MessengerResponds(messenger));
        EXPECT_EQ(1, CountProductPopups(GetMenu(messenger)));
        EXPECT_EQ(windowUnicode, IsWindowUnicode(messenger) != FALSE) << "the module changed the window's character set";

        for (NeighbourSubclass* neighbour : inChain)
            neighbour->ResetCounts();
        LONG commands = sandbox::GetMessengerStats().commands;
        EXPECT_EQ(sandbox::MessengerCommandAnswer, SendMessageW(messenger, WM_COMMAND, MAKEWPARAM(4242, 1), 0));
        EXPECT_EQ(commands + 1, sandbox::GetMessengerStats().commands) << "an ordinary command, once";
        EXPECT_EQ(4242u, sandbox::GetMessengerStats().lastCommandId);
        for (NeighbourSubclass* neighbour : inChain)
            EXPECT_EQ(1, neighbour->Entries()) << "each add-in sees an ordinary message once";

        for (NeighbourSubclass* neighbour : inChain)
            neighbour->ResetCounts();
        size_t requests = about_support::ShellRequests().size();
        EXPECT_EQ(0, SendMessageW(messenger, WM_COMMAND, IDM_HOMEPAGE, 0));
        EXPECT_EQ(requests + 1, about_support::ShellRequests().size()) << "the module took its command";
        EXPECT_EQ(commands + 1, sandbox::GetMessengerStats().commands) << "a product command reached Messenger";
        for (NeighbourSubclass* neighbour : inChain)
            EXPECT_GE(1, neighbour->Entries());
    }
};

// ---- Window character set x the neighbour's calls ----------------------------------------------

struct Sets { CharacterSet window; CharacterSet calls; };
void PrintTo(const Sets& sets, std::ostream* out)
{
    *out << Name(sets.window) << " window, neighbour with the " << Name(sets.calls) << " calls";
}

class CoexistenceSets : public Coexistence, public testing::WithParamInterface<Sets> {
protected:
    CharacterSet Window() const { return GetParam().window; }
    CharacterSet Calls() const { return GetParam().calls; }
};

TEST_P(CoexistenceSets, NeighbourAboveTheRouterThroughRebuildsAndHandshakes)
{
    Start(Window());
    Inject();
    NeighbourSubclass neighbour(messenger, Calls());
    ASSERT_TRUE(neighbour.Installed());
    NoteCharacterSet();
    for (int round = 0; round < 6 && !HasFailure(); ++round) {
        Upheaval(round);
        ExpectChainSound({&neighbour}, "round " + std::to_string(round));
    }
    EXPECT_EQ(neighbour.Procedure(), WindowProcedure(messenger)) << "the router subclassed again over it";
}

TEST_P(CoexistenceSets, NeighbourBelowTheRouterThroughRebuildsAndHandshakes)
{
    Start(Window());
    NeighbourSubclass neighbour(messenger, Calls());
    ASSERT_TRUE(neighbour.Installed());
    NoteCharacterSet();
    Inject();
    WNDPROC routed = WindowProcedure(messenger);
    EXPECT_NE(neighbour.Procedure(), routed);
    for (int round = 0; round < 6 && !HasFailure(); ++round) {
        Upheaval(round);
        ExpectChainSound({&neighbour}, "round " + std::to_string(round));
    }
    EXPECT_EQ(routed, WindowProcedure(messenger));
}

TEST_P(CoexistenceSets, NeighbourThatLeavesFromTheTop)
{
    Start(Window());
    Inject();
    WNDPROC routed = WindowProcedure(messenger);
    {
        NeighbourSubclass neighbour(messenger, Calls());
        ASSERT_TRUE(neighbour.Installed());
        NoteCharacterSet();
        Upheaval(2);
        ExpectChainSound({&neighbour}, "with the neighbour");
        neighbour.Leave();
    }
    NoteCharacterSet();
    EXPECT_EQ(routed, WindowProcedure(messenger));
    for (int round = 0; round < 3 && !HasFailure(); ++round) {
        Upheaval(round);
        ExpectChainSound({}, "after it left, round " + std::to_string(round));
    }
    EXPECT_EQ(routed, WindowProcedure(messenger)) << "routed once, and only once";
}

INSTANTIATE_TEST_SUITE_P(Sets, CoexistenceSets,
                         testing::Values(Sets{CharacterSet::Unicode, CharacterSet::Unicode},
                                         Sets{CharacterSet::Unicode, CharacterSet::Ansi},
                                         Sets{CharacterSet::Ansi, CharacterSet::Unicode},
                                         Sets{CharacterSet::Ansi, CharacterSet::Ansi}));

// ---- Neighbours that cut the chain ------------------------------------------------------------

TEST_F(Coexistence, NeighbourPuttingBackMessengersProcedureCutsTheRouterOutUntilTheNextTrigger)
{
    Start();
    Inject();
    NeighbourSubclass lower(messenger, CharacterSet::Unicode);
    NeighbourSubclass upper(messenger, CharacterSet::Unicode);
    ASSERT_TRUE(lower.Installed() && upper.Installed());
    // Not on top, the lower one puts Messenger's own procedure back: both it and the router are out.
    lower.SetWindowProcedure(sandbox::MessengerWindowProcedure);
    ASSERT_EQ(reinterpret_cast<WNDPROC>(sandbox::MessengerWindowProcedure), WindowProcedure(messenger));
    LONG commands = sandbox::GetMessengerStats().commands;
    SendMessageW(messenger, WM_COMMAND, IDM_HOMEPAGE, 0);
    ASSERT_EQ(commands + 1, sandbox::GetMessengerStats().commands) << "the router was expected to be cut out";

    // The next trigger routes the window again, once.
    PostMessageW(messenger, 0x8002, 0, 0);
    Pump(30);
    WNDPROC routed = WindowProcedure(messenger);
    EXPECT_NE(reinterpret_cast<WNDPROC>(sandbox::MessengerWindowProcedure), routed);
    ExpectChainSound({}, "routed again");
    for (int round = 0; round < 4 && !HasFailure(); ++round) {
        PostMessageW(messenger, round % 2 ? 0x8002 : 0x0400, 0, 0);
        Upheaval(round);
        ExpectChainSound({}, "round " + std::to_string(round));
    }
    EXPECT_EQ(routed, WindowProcedure(messenger));
}

TEST_F(Coexistence, UnknownTopProcedureIsNeverRoutedOver)
{
    Start();
    NeighbourSubclass lower(messenger, CharacterSet::Unicode);
    Inject();
    // Below the router, the neighbour puts Messenger's own procedure on top: that is not what the
    // router replaced, so the module cannot tell where it stands and leaves the chain alone.
    lower.SetWindowProcedure(sandbox::MessengerWindowProcedure);
    for (int round = 0; round < 4 && !HasFailure(); ++round) {
        Upheaval(round);
        SCOPED_TRACE("round " + std::to_string(round));
        EXPECT_EQ(reinterpret_cast<WNDPROC>(sandbox::MessengerWindowProcedure), WindowProcedure(messenger));
        EXPECT_EQ(1, CountProductPopups(GetMenu(messenger)));
        ASSERT_TRUE(MessengerResponds(messenger));
        LONG commands = sandbox::GetMessengerStats().commands;
        EXPECT_EQ(sandbox::MessengerCommandAnswer, SendMessageW(messenger, WM_COMMAND, 77, 0));
        EXPECT_EQ(commands + 1, sandbox::GetMessengerStats().commands);
    }
}

// ---- A new window ------------------------------------------------------------------------------

TEST_F(Coexistence, RecreatedWindowIsRoutedAfreshWithItsOwnNeighbours)
{
    Start();
    Inject();
    {
        NeighbourSubclass old(messenger, CharacterSet::Ansi);
        NoteCharacterSet();
        ExpectChainSound({&old}, "first window");
        DestroyWindow(messenger);
        Pump(10);
    }
    // Messenger signs out and in: a new window, and the other add-in subclasses it first.
    messenger = CreateMessenger();
    ASSERT_NE(nullptr, messenger);
    NeighbourSubclass first(messenger, CharacterSet::Unicode);
    NoteCharacterSet();
    PostMessageW(messenger, 0x8002, 0, 0);
    Pump(30);
    ExpectChainSound({&first}, "second window");
    NeighbourSubclass second(messenger, CharacterSet::Ansi);
    NoteCharacterSet();
    for (int round = 0; round < 4 && !HasFailure(); ++round) {
        Upheaval(round);
        ExpectChainSound({&first, &second}, "second window, round " + std::to_string(round));
    }
    EXPECT_EQ(second.Procedure(), WindowProcedure(messenger));
}

// ---- Texts of a Unicode window -----------------------------------------------------------------

class CoexistenceText : public Coexistence, public testing::WithParamInterface<CharacterSet> {
protected:
    struct Arrival { std::wstring arrived; std::wstring readBack; };
    Arrival SetAndRead(const wchar_t* text)
    {
        Arrival arrival;
        EXPECT_TRUE(SendMessageW(messenger, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)));
        arrival.arrived = sandbox::LastTextSet();
        wchar_t buffer[256] = L"";
        SendMessageW(messenger, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(buffer));
        arrival.readBack = buffer;
        return arrival;
    }
};

TEST_P(CoexistenceText, TextsArriveAsTheyDidBeforeInjection)
{
    const wchar_t* const Texts[] = {L"\u041f\u0440\u0438\u0432\u0435\u0442 \u4e16\u754c",   // Привет 世界
                                    L"\u00c0\u00e7\u00e7\u00e9nt\u00e9d \u00fc\u00f1\u00ee",  // Àççéntéd üñî
                                    L"\u0401\u0436 \u20ac \u0395\u03bb\u03bb\u03ac\u03b4\u03b1"};
    Start(GetParam());
    std::vector<Arrival> before;
    for (const wchar_t* text : Texts)
        before.push_back(SetAndRead(text));
    if (GetParam() == CharacterSet::Unicode) {
        for (size_t i = 0; i < before.size(); ++i) {
            ASSERT_EQ(std::wstring(Texts[i]), before[i].arrived) << "the stand-in itself loses text";
            ASSERT_EQ(std::wstring(Texts[i]), before[i].readBack);
        }
    }
    Inject();
    NeighbourSubclass neighbour(messenger, GetParam());
    for (int round = 0; round < 4 && !HasFailure(); ++round) {
        Upheaval(round);
        SCOPED_TRACE("round " + std::to_string(round) + ", code page " + std::to_string(GetACP()));
        EXPECT_EQ(GetParam() == CharacterSet::Unicode, IsWindowUnicode(messenger) != FALSE);
        for (size_t i = 0; i < before.size(); ++i) {
            Arrival after = SetAndRead(Texts[i]);
            EXPECT_EQ(Utf8(before[i].arrived), Utf8(after.arrived)) << "text " << i << " as Messenger got it";
            EXPECT_EQ(Utf8(before[i].readBack), Utf8(after.readBack)) << "text " << i << " read back";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Windows, CoexistenceText, testing::Values(CharacterSet::Unicode, CharacterSet::Ansi));

// ---- Hooks on Messenger's thread ---------------------------------------------------------------

TEST_F(Coexistence, OtherHooksSeeEveryMessageWhileTheHostsHookIsInPlaceAndAfter)
{
    const UINT Probe = WM_APP + 0x123;
    NeighbourHook other;   // installed before the host's hook: called after it
    ASSERT_TRUE(other.Installed());
    Start();
    HANDLE injected = CreateEventA(nullptr, TRUE, FALSE, "Orvella Dll Injected");
    ASSERT_NE(nullptr, injected);
    HHOOK host = SetWindowsHookExA(WH_GETMESSAGE, ExportedHook(), Module(), GetCurrentThreadId());
    ASSERT_NE(nullptr, host);
    // The first message retrieved runs the handshake through the host's hook.
    for (WPARAM i = 0; i < 20; ++i)
        PostMessageW(messenger, Probe, i, 0);
    Pump(50);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(injected, 0)) << "the handshake did not run";
    EXPECT_TRUE(EventExists("Orvella Hook Installed"));
    EXPECT_EQ(1, CountProductPopups(GetMenu(messenger)));
    UnhookWindowsHookEx(host);
    CloseHandle(injected);
    std::vector<WPARAM> seen = other.Seen(Probe);
    ASSERT_EQ(20u, seen.size()) << "the host's hook kept messages from the next hook";
    for (WPARAM i = 0; i < 20; ++i)
        EXPECT_EQ(i, seen[i]);

    // The module's own hook passes every message on too, trigger messages included.
    for (WPARAM i = 20; i < 30; ++i)
        PostMessageW(messenger, i % 2 ? 0x8002 : Probe, i, 0);
    Pump(50);
    EXPECT_EQ(5u, other.Seen(0x8002).size());
    EXPECT_EQ(25u, other.Seen(Probe).size());
}

} // namespace

// ---- Badly behaved neighbours ----------------------------------------------------------------

namespace {

HHOOK NullPassingHook = nullptr;
int NullPassingCalls = 0;

// Another add-in's hook that passes the call on without its message.
LRESULT CALLBACK PassOnWithoutTheMessage(int code, WPARAM wParam, LPARAM)
{
    ++NullPassingCalls;
    return CallNextHookEx(NullPassingHook, code, wParam, 0);
}

} // namespace

TEST_F(Coexistence, HookThatPassesNoMessageOnIsSurvived)
{
    Start();
    Inject();
    // Installed after the module's hook, so it is called first and the module's hook gets nothing.
    NullPassingCalls = 0;
    NullPassingHook = SetWindowsHookExA(WH_GETMESSAGE, PassOnWithoutTheMessage, nullptr, GetCurrentThreadId());
    ASSERT_NE(nullptr, NullPassingHook);
    HMENU bar = GetMenu(messenger);
    ASSERT_TRUE(DeleteMenu(bar, GetMenuItemCount(bar) - 1, MF_BYPOSITION));
    for (int i = 0; i < 10; ++i)
        PostMessageW(messenger, i % 2 ? 0x8002 : 0x0400, 0, 0);
    Pump(50);
    EXPECT_LE(10, NullPassingCalls);
    EXPECT_TRUE(MessengerResponds(messenger));
    EXPECT_EQ(0, CountProductPopups(bar)) << "no message reached the module, yet it acted on one";
    ASSERT_TRUE(UnhookWindowsHookEx(NullPassingHook));
    NullPassingHook = nullptr;
    // With the messages passed on again, the next trigger puts the popup back.
    PostMessageW(messenger, 0x8002, 0, 0);
    Pump(50);
    EXPECT_EQ(1, CountProductPopups(bar));
    ExpectChainSound({}, "after the hook left");
}

// A neighbour copies the top procedure of Messenger's window, the module's router, onto a window
// of its own, one the router never routed: that window's messages get the default handling, and
// Messenger sees none of them.
TEST_F(Coexistence, RouterCopiedOntoAnotherWindowGivesItTheDefaultProcedure)
{
    Start();
    Inject();
    WNDPROC router = WindowProcedure(messenger);
    ASSERT_NE(reinterpret_cast<WNDPROC>(sandbox::MessengerWindowProcedure), router);
    for (CharacterSet set : {CharacterSet::Unicode, CharacterSet::Ansi}) {
        SCOPED_TRACE(Name(set));
        const bool unicode = set == CharacterSet::Unicode;
        HWND other = unicode ? CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr)
                             : CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, other);
        LONG copied = reinterpret_cast<LONG>(router);
        ASSERT_NE(0, unicode ? SetWindowLongW(other, GWL_WNDPROC, copied) : SetWindowLongA(other, GWL_WNDPROC, copied));
        LONG commands = sandbox::GetMessengerStats().commands;
        EXPECT_EQ(0, SendMessageW(other, WM_COMMAND, MAKEWPARAM(4242, 0), 0));
        EXPECT_EQ(commands, sandbox::GetMessengerStats().commands) << "a message of another window reached Messenger";
        EXPECT_TRUE(SendMessageW(other, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"copied")));
        wchar_t text[16] = L"";
        EXPECT_EQ(6, SendMessageW(other, WM_GETTEXT, 16, reinterpret_cast<LPARAM>(text)));
        EXPECT_STREQ(L"copied", text);
        EXPECT_EQ(unicode, IsWindowUnicode(other) != FALSE);
        EXPECT_TRUE(DestroyWindow(other));
    }
    ExpectChainSound({}, "after the copies were destroyed");
}
