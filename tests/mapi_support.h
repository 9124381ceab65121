// Shared by the test files that drive MAPI through the provider stand-in: every case starts with
// no fixture and no stored settings, and ends with every provider object and buffer released and
// nothing misused.
#ifndef ORVL_TESTS_MAPI_SUPPORT_H
#define ORVL_TESTS_MAPI_SUPPORT_H

#include "tests/rig/rig.h"
#include "sandbox/mapi_provider/mapi_fixture.h"
#include "sandbox/mapi_provider/mapi_recorder.h"

#include <gtest/gtest.h>

inline void ExpectMapiReleasedEverything()
{
    if (!SandboxMapi::Loaded())
        return;
    EXPECT_EQ(0, SandboxMapi::LiveObjects()) << SandboxMapi::Log();
    EXPECT_EQ(0, SandboxMapi::LiveBuffers()) << SandboxMapi::Log();
    EXPECT_EQ(0, SandboxMapi::Misuses()) << SandboxMapi::Log();
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
