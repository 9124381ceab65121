// A hostile MAPI provider, generated from a seed (ORVL_SEED replaces it; the seed in use is
// printed): empty and oversized row sets, rows with values missing, in the wrong slots or of
// the wrong type, texts of 0 and 100,000 characters, an identity that is not a mail user, and
// each step failing in turn. The module is loaded once and the sheet (and the test logon) run
// again and again in one Messenger: no crash, the outcome the page and the report promise,
// every MAPI object and buffer released, and Messenger still answers.
#include "tests/mapi_support.h"
#include "tests/rig/rig.h"
#include "sandbox/mapi_provider/mapi_fixture.h"
#include "sandbox/mapi_provider/mapi_recorder.h"
#include "sandbox/messenger/messenger_window.h"
#include "res/resource.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <random>

using namespace rig;

namespace {

const char ExchangeHeader[] = "We are successfully logged to Microsoft Exchange account.";
const char NotExchangeHeader[] = "We are successfully logged, but it is not Microsoft Exchange server.";
const char NoStoreHeader[] = "We are successfully logged, but unable to get access to messages store";
const char LogonErrorHeader[] = "Logon error.";
const size_t HugeText = 100000;
const size_t MessageCapacity = 2000;
const HRESULT StepFailure = static_cast<HRESULT>(0x80004005L);   // E_FAIL

unsigned Seed(unsigned salt)
{
    char text[16] = "";
    DWORD length = GetEnvironmentVariableA("ORVL_SEED", text, sizeof(text));
    unsigned seed = length > 0 && length < sizeof(text) ? static_cast<unsigned>(strtoul(text, nullptr, 10)) : 20261208u;
    std::printf("seed %u (ORVL_SEED=%u)\n", seed + salt, seed);
    return seed + salt;
}

template <typename T, size_t N>
const T& Pick(std::mt19937& random, const T (&choices)[N]) { return choices[random() % N]; }

// Kinds of text a hostile provider hands out.
enum class TextKind { Normal, Absent, Empty, Huge };
const TextKind TextKinds[] = {TextKind::Normal, TextKind::Absent, TextKind::Empty, TextKind::Huge};

MapiFixture::Text MakeText(TextKind kind, const std::string& normal)
{
    switch (kind) {
    case TextKind::Absent: return std::nullopt;   // the provider answers PT_ERROR
    case TextKind::Empty: return std::string();
    case TextKind::Huge: return std::string(HugeText, 'w');
    default: return normal;
    }
}

struct Misbehaviour {
    MapiFixture::Number extraRows;
    MapiFixture::Number rowValueCount;
    bool rotate = false;
    const char* failingStep = nullptr;
};

std::string Describe(const Misbehaviour& m)
{
    char text[160];
    std::snprintf(text, sizeof text, "extra rows %ld, values per row %ld, rotated %d, failing step %s",
                  m.extraRows ? static_cast<long>(*m.extraRows) : -1L,
                  m.rowValueCount ? static_cast<long>(*m.rowValueCount) : -1L, m.rotate ? 1 : 0,
                  m.failingStep ? m.failingStep : "none");
    return text;
}

class HostileMapi : public testing::Test {
protected:
    HWND messenger = nullptr;

    void SetUp() override
    {
        MapiFixture::Clear();
        DeleteSettingsKey();
        messenger = CreateMessenger();
        ASSERT_NE(nullptr, LoadModule(Language::English));
        ASSERT_TRUE(SandboxMapi::Load());
        ASSERT_TRUE(InjectAsHost());
    }

    void TearDown() override { MapiFixture::Clear(); }

    // After each run: everything released, nothing misused, Messenger alive.
    void ExpectCleanAfterwards()
    {
        ExpectMapiReleasedEverything();
        EXPECT_EQ(0, SandboxMapi::InitCount());
        EXPECT_TRUE(MessengerResponds(messenger));
        EXPECT_EQ(0, sandbox::GetMessengerStats().commands);
        if (GetEnvironmentVariableA("ORVL_SHOW_MEMORY", nullptr, 0)) {
            SIZE_T committed = 0;
            MEMORY_BASIC_INFORMATION info;
            for (BYTE* address = nullptr; VirtualQuery(address, &info, sizeof(info)) == sizeof(info);
                 address = static_cast<BYTE*>(info.BaseAddress) + info.RegionSize) {
                if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE)
                    committed += info.RegionSize;
                if (static_cast<BYTE*>(info.BaseAddress) + info.RegionSize < address)
                    break;
            }
            std::printf("private committed %lu KiB\n", static_cast<unsigned long>(committed / 1024));
        }
    }

    void Apply(const Misbehaviour& m)
    {
        ASSERT_TRUE(MapiFixture::SetMisbehaviour(m.extraRows, m.rowValueCount, m.rotate));
        if (m.failingStep) {
            ASSERT_TRUE(MapiFixture::SetStep(m.failingStep, StepFailure));
        }
    }

    struct Report { bool shown = false; std::string text; UINT icon = 0; };

    // Opens the sheet, chooses profile logon, lets `misbehave` change the provider once the
    // profile list is read, presses "Test logon" and reads the report.
    Report TestLogonReport(const std::function<void()>& misbehave)
    {
        Report report;
        WithSettingsSheet(messenger, SettingsCaption, [&](ModalScript& script, HWND sheet, HWND page) {
            script.Click(page, IDC_PROFILE_LOGON);
            EXPECT_TRUE(WaitUntil([&] { return ControlEnabled(page, IDC_TEST_LOGON); }));
            misbehave();
            SandboxMapi::ResetLog();
            script.Click(page, IDC_TEST_LOGON);
            HWND box = script.WaitForWindow("#32770", TestLogonCaption);
            if (box) {
                report.shown = true;
                report.text = script.MessageBoxText(box);
                report.icon = script.MessageBoxIcon(box);
                script.CloseMessageBox(box);
            }
            script.PressSheetButton(sheet, PSBTN_CANCEL);
        });
        return report;
    }
};

// ---- The profile list --------------------------------------------------------------------------

TEST_F(HostileMapi, ProfileTablesOfEveryShape)
{
    std::mt19937 random(Seed(1));
    const int ProfileCounts[] = {0, 1, 3, 150};
    const char* const Steps[] = {nullptr, nullptr, nullptr, "FailAdminProfiles", "FailGetProfileTable",
                                 "FailProfileSetColumns", "FailProfileQueryRows"};
    const MapiFixture::Number Extras[] = {std::nullopt, std::nullopt, 1000u};
    const MapiFixture::Number ValueCounts[] = {std::nullopt, std::nullopt, 0u, 1u};
    const int Runs = 40;
    for (int run = 0; run < Runs && !HasFailure(); ++run) {
        MapiFixture::Clear();
        const int profiles = Pick(random, ProfileCounts);
        const TextKind firstName = Pick(random, TextKinds);
        const int defaultRow = profiles ? static_cast<int>(random() % (profiles + 1)) - 1 : -1;   // -1: none
        Misbehaviour m;
        m.extraRows = Pick(random, Extras);
        m.rowValueCount = Pick(random, ValueCounts);
        m.rotate = random() % 4 == 0;
        m.failingStep = run < 4 ? Steps[3 + run] : Pick(random, Steps);   // every step fails at least once
        std::vector<MapiFixture::Text> names;
        for (int i = 0; i < profiles; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "Profile %03d", i);
            names.push_back(i == 0 ? MakeText(firstName, name) : MapiFixture::Text(name));
            ASSERT_GE(MapiFixture::AddProfile(names.back(), i == defaultRow), 0);
        }
        Apply(m);
        SCOPED_TRACE("run " + std::to_string(run) + ": " + std::to_string(profiles) + " profiles, first name kind " +
                     std::to_string(static_cast<int>(firstName)) + ", default row " + std::to_string(defaultRow) +
                     ", " + Describe(m));

        // What the page must list: the rows handed back, minus those without a readable name.
        std::vector<std::string> expected;
        int expectedSelection = 0;
        const size_t handedBack = std::min<size_t>(profiles, 100 + m.extraRows.value_or(0));
        const bool namesReadable = !m.failingStep && !m.rotate && m.rowValueCount.value_or(2) >= 1;
        const bool defaultsReadable = namesReadable && m.rowValueCount.value_or(2) >= 2;
        for (size_t i = 0; namesReadable && i < handedBack; ++i) {
            if (!names[i])
                continue;
            if (defaultsReadable && static_cast<int>(i) == defaultRow)
                expectedSelection = static_cast<int>(expected.size());
            expected.push_back(*names[i]);
        }

        SandboxMapi::ResetLog();
        WithSettingsSheet(messenger, SettingsCaption, [&](ModalScript& script, HWND sheet, HWND page) {
            std::vector<std::string> items = ComboItems(page, IDC_PROFILE_LIST);
            EXPECT_EQ(expected.size(), items.size());
            EXPECT_TRUE(items == expected) << "the list holds other texts than the provider's names";
            if (expected.empty()) {
                EXPECT_TRUE(ButtonChecked(page, IDC_AUTO_LOGON));
                EXPECT_FALSE(ControlEnabled(page, IDC_PROFILE_LOGON));
            } else {
                EXPECT_EQ(expectedSelection, ComboSelection(page, IDC_PROFILE_LIST));
            }
            script.PressSheetButton(sheet, PSBTN_CANCEL);
        });
        ExpectCleanAfterwards();
    }
}

// ---- The test logon ----------------------------------------------------------------------------

TEST_F(HostileMapi, TestLogonAgainstStoresAndIdentitiesOfEveryShape)
{
    std::mt19937 random(Seed(2));
    const char* const Steps[] = {nullptr, nullptr, nullptr, "FailGetMsgStoresTable", "FailStoreSetColumns",
                                 "FailRestrict", "FailStoreQueryRows", "FailQueryIdentity", "FailOpenEntry",
                                 "FailQueryInterface", "FailGetProps"};
    const int StoreCounts[] = {0, 1, 2, 30};
    const MapiFixture::Number Extras[] = {std::nullopt, std::nullopt, 5u};
    const MapiFixture::Number ValueCounts[] = {std::nullopt, std::nullopt, 0u, 1u};
    const int Runs = 30;
    for (int run = 0; run < Runs && !HasFailure(); ++run) {
        MapiFixture::Clear();
        const int work = MapiFixture::AddProfile(std::string("Work"), true);
        const int stores = Pick(random, StoreCounts);
        const TextKind providerKind = Pick(random, TextKinds);
        for (int i = 0; i < stores; ++i)
            MapiFixture::AddStore(work, MakeText(providerKind, "Microsoft Exchange Server"), i == 0 || random() % 2 == 0);
        const TextKind identityKind = Pick(random, TextKinds);
        MapiFixture::SetIdentity(work, MakeText(identityKind, "John Doe"), MakeText(identityKind, "/o=Dorvane/cn=jdoe"),
                                 MakeText(identityKind, "jdoe"), MakeText(identityKind, "john.doe@dorvane.example"));
        const bool notMailUser = random() % 5 == 0;
        MapiFixture::SetIdentityNotMailUser(work, notMailUser);
        const bool logonFails = random() % 8 == 0;
        if (logonFails)
            MapiFixture::SetLogonResult(work, static_cast<HRESULT>(0x80040111L));
        Misbehaviour m;
        m.extraRows = Pick(random, Extras);
        m.rowValueCount = Pick(random, ValueCounts);
        m.rotate = random() % 4 == 0;
        m.failingStep = run < 8 ? Steps[3 + run] : Pick(random, Steps);   // every step fails at least once
        SCOPED_TRACE("run " + std::to_string(run) + ": " + std::to_string(stores) + " stores, provider kind " +
                     std::to_string(static_cast<int>(providerKind)) + ", identity kind " +
                     std::to_string(static_cast<int>(identityKind)) + ", not mail user " + std::to_string(notMailUser) +
                     ", logon fails " + std::to_string(logonFails) + ", " + Describe(m));

        Report report = TestLogonReport([&] { Apply(m); });
        ASSERT_TRUE(report.shown);
        const std::string& text = report.text;
        EXPECT_LT(text.size(), MessageCapacity);
        EXPECT_EQ(std::string::npos, text.find(std::string(300, 'w'))) << "a text longer than 299 characters was shown";
        // Which report: a failed logon, no store found, or a store whose provider decides.
        const bool storeStepsFail = m.failingStep && std::string(m.failingStep).find("Store") != std::string::npos;
        const bool tableFails = m.failingStep && (std::string(m.failingStep) == "FailGetMsgStoresTable" ||
                                                  std::string(m.failingStep) == "FailRestrict" || storeStepsFail);
        if (logonFails) {
            EXPECT_EQ(0u, text.find(LogonErrorHeader)) << text;
        } else if (tableFails || stores == 0) {
            EXPECT_EQ(0u, text.find(NoStoreHeader)) << text;
        } else {
            EXPECT_TRUE(text.find(ExchangeHeader) == 0 || text.find(NotExchangeHeader) == 0) << text;
            const bool providerReadable = providerKind == TextKind::Normal && !m.rotate && m.rowValueCount.value_or(2) >= 1;
            if (providerReadable) {
                EXPECT_EQ(0u, text.find(ExchangeHeader)) << text;
            }
        }
        MapiFixture::SetMisbehaviour(std::nullopt, std::nullopt, std::nullopt);
        if (m.failingStep)
            MapiFixture::SetStep(m.failingStep, S_OK);
        ExpectCleanAfterwards();
    }
}

} // namespace

// ---- Steps that succeed and hand back nothing ------------------------------------------------------

// A provider that answers S_OK yet hands back no object, or texts without their characters: the
// page has nothing to list, logs on automatically only, and nothing is left to release.
TEST_F(HostileMapi, ProfileStepsThatSucceedWithNothingLeaveAutomaticLogonOnly)
{
    struct Shape { const char* nullStep; bool nullTexts; };
    const Shape shapes[] = {{"AdminProfiles", false}, {"GetProfileTable", false}, {"ProfileQueryRows", false},
                            {nullptr, true}};
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.nullStep ? shape.nullStep : "null texts");
        MapiFixture::Clear();
        ASSERT_GE(MapiFixture::AddProfile(std::string("Work"), true), 0);
        ASSERT_GE(MapiFixture::AddProfile(std::string("Home"), false), 0);
        ASSERT_TRUE(MapiFixture::SetNullOutput(shape.nullStep ? MapiFixture::Text(shape.nullStep) : std::nullopt));
        ASSERT_TRUE(MapiFixture::SetNullTexts(shape.nullTexts));
        SetSettingDword("AutoLogon", 0);
        SetSettingString("Profile", "Work");
        SandboxMapi::ResetLog();
        WithSettingsSheet(messenger, SettingsCaption, [&](ModalScript& script, HWND sheet, HWND page) {
            EXPECT_TRUE(ComboItems(page, IDC_PROFILE_LIST).empty());
            EXPECT_TRUE(ButtonChecked(page, IDC_AUTO_LOGON));
            EXPECT_FALSE(ControlEnabled(page, IDC_PROFILE_LOGON));
            EXPECT_FALSE(ControlEnabled(page, IDC_TEST_LOGON));
            script.PressSheetButton(sheet, PSBTN_CANCEL);
        });
        EXPECT_TRUE(SandboxMapi::Has("MAPIAdminProfiles flags=0 -> 0")) << SandboxMapi::Log();
        ExpectCleanAfterwards();
    }
}

// The same for the test logon: a logon without a session is a failed one (code 0), a missing
// table means no store, a missing identity object keeps the placeholders, and a session handed
// back with a failure is released.
TEST_F(HostileMapi, TestLogonStepsThatSucceedWithNothingGiveTheirReports)
{
    const std::string placeholders = "\r\n\r\n   Account: n/a\r\n   User name: n/a\r\n   E-mail: n/a\r\n   SMTP e-mail: n/a";
    struct Shape { const char* nullStep; bool nullTexts; bool sessionDespiteFailure; const char* header; std::string block; };
    const Shape shapes[] = {
        {"LogonEx", false, false, "Logon error. Error code is 00000000.", ""},
        {"GetMsgStoresTable", false, false, NoStoreHeader, ""},
        {"StoreQueryRows", false, false, NoStoreHeader, ""},
        {"QueryIdentity", false, false, ExchangeHeader, "Service: Microsoft Exchange Server" + placeholders},
        {"OpenEntry", false, false, ExchangeHeader, "Service: Microsoft Exchange Server" + placeholders},
        {"QueryInterface", false, false, ExchangeHeader, "Service: Microsoft Exchange Server" + placeholders},
        {"GetProps", false, false, ExchangeHeader, "Service: Microsoft Exchange Server" + placeholders},
        {nullptr, true, false, NotExchangeHeader, "Service: n/a" + placeholders},
        {nullptr, false, true, "Logon error. Error code is 80040111.", ""}};
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(std::string(shape.nullStep ? shape.nullStep : "no null step") + (shape.nullTexts ? ", null texts" : "") +
                     (shape.sessionDespiteFailure ? ", session despite a failed logon" : ""));
        MapiFixture::Clear();
        const int work = MapiFixture::AddProfile(std::string("Work"), true);
        ASSERT_GE(work, 0);
        ASSERT_GE(MapiFixture::AddStore(work, std::string("Microsoft Exchange Server"), true), 0);
        ASSERT_TRUE(MapiFixture::SetIdentity(work, std::string("John Doe"), std::string("/o=Dorvane/cn=jdoe"),
                                             std::string("jdoe"), std::string("john.doe@dorvane.example")));
        Report report = TestLogonReport([&] {
            EXPECT_TRUE(MapiFixture::SetNullOutput(shape.nullStep ? MapiFixture::Text(shape.nullStep) : std::nullopt));
            EXPECT_TRUE(MapiFixture::SetNullTexts(shape.nullTexts));
            EXPECT_TRUE(MapiFixture::SetSessionDespiteFailure(shape.sessionDespiteFailure));
            if (shape.sessionDespiteFailure) {
                EXPECT_TRUE(MapiFixture::SetLogonResult(work, static_cast<HRESULT>(0x80040111L)));
            }
        });
        ASSERT_TRUE(report.shown);
        EXPECT_EQ(0u, report.text.find(shape.header)) << report.text;
        if (!shape.block.empty()) {
            EXPECT_NE(std::string::npos, report.text.find(shape.block)) << report.text;
        }
        EXPECT_EQ(static_cast<UINT>(std::string(shape.header) == ExchangeHeader ? MB_ICONINFORMATION : MB_ICONERROR),
                  report.icon);
        ExpectCleanAfterwards();
    }
}
