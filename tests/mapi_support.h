// Shared by the test files that drive MAPI through the provider stand-in: every case starts with
// no fixture and no stored settings, and ends with every provider object and buffer released and
// nothing misused.
#ifndef ORVL_TESTS_MAPI_SUPPORT_H
#define ORVL_TESTS_MAPI_SUPPORT_H

#include "tests/rig/rig.h"
#include "sandbox/mapi_provider/mapi_fixture.h"
#include "sandbox/mapi_provider/mapi_recorder.h"
#include "res/resource.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

inline void ExpectMapiReleasedEverything()
{
    if (!SandboxMapi::Loaded())
        return;
    EXPECT_EQ(0, SandboxMapi::LiveObjects()) << SandboxMapi::Log();
    EXPECT_EQ(0, SandboxMapi::LiveBuffers()) << SandboxMapi::Log();
    EXPECT_EQ(0, SandboxMapi::Misuses()) << SandboxMapi::Log();
}

// The captions of the settings sheet (English, Russian) and of the English test-logon report.
const char SettingsCaption[] = "Orvella Settings";
const char RussianSettingsCaption[] = "Настройки Orvella";
const char TestLogonCaption[] = "Test logon to Microsoft Exchange Server";

// The account part of a test-logon report, in the interface's language: the row labels, then the
// service, account, user name, e-mail and SMTP e-mail lines.
struct ReportLabels {
    const char* service;
    const char* account;
    const char* user;
    const char* email;
    const char* smtp;
};

inline std::string ReportBlock(const ReportLabels& labels, const std::string& service, const std::string& account,
                               const std::string& user, const std::string& email, const std::string& smtp)
{
    return std::string(labels.service) + ": " + service + "\r\n\r\n   " + labels.account + ": " + account +
           "\r\n   " + labels.user + ": " + user + "\r\n   " + labels.email + ": " + email + "\r\n   " +
           labels.smtp + ": " + smtp;
}

// "Settings..." chosen again while the sheet is open: the user first goes to another window of
// the process, then `deliver` sends or posts the command to Messenger. Tells whether `front` (the
// sheet, or what it waits on) came to the front, and whether a second sheet opened; one that did
// is cancelled again.
struct SecondSettings {
    bool cameForward = false;
    bool secondSheetOpened = false;
};

inline SecondSettings RequestSettingsAgain(rig::ModalScript& script, HWND sheet, HWND front,
                                           const std::function<void()>& deliver)
{
    SecondSettings outcome;
    HWND elsewhere = CreateWindowExW(0, L"STATIC", L"elsewhere", WS_POPUP | WS_VISIBLE, 700, 700, 120, 40, nullptr,
                                     nullptr, nullptr, nullptr);
    SetForegroundWindow(elsewhere);
    EXPECT_TRUE(rig::WaitUntil([&] { return GetForegroundWindow() == elsewhere; }, 2000));
    deliver();
    outcome.cameForward = rig::WaitUntil([&] { return GetForegroundWindow() == front; }, 3000);
    outcome.secondSheetOpened = rig::WaitUntil([&] { return rig::OpenDialogs({SettingsCaption}).size() > 1; }, 1000);
    for (HWND other : rig::OpenDialogs({SettingsCaption}))
        if (other != sheet) {
            script.PressSheetButton(other, PSBTN_CANCEL);
            script.WaitForClose(other);
        }
    DestroyWindow(elsewhere);
    return outcome;
}

class MapiCase : public testing::Test {
protected:
    void SetUp() override
    {
        MapiFixture::Clear();
        rig::DeleteSettingsKey();
    }

    void TearDown() override
    {
        ExpectMapiReleasedEverything();
        MapiFixture::Clear();
    }
};

#endif
