// Shared by the test files that drive MAPI through the provider stand-in: every case starts with
// no fixture and no stored settings, and ends with every provider object and buffer released and
// nothing misused.
#ifndef ORVL_TESTS_MAPI_SUPPORT_H
#define ORVL_TESTS_MAPI_SUPPORT_H

#include "tests/rig/rig.h"
#include "sandbox/mapi_provider/mapi_fixture.h"
#include "sandbox/mapi_provider/mapi_recorder.h"

#include <gtest/gtest.h>

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
