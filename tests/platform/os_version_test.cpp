#include "platform/host/os_version.h"
#include "platform/host/machine.h"

#include <gtest/gtest.h>

namespace tarvik {
namespace {

class OsFamilyTest : public ::testing::Test {
protected:
    VersionFailureSink CountFailures()
    {
        return [this] { ++failures_; };
    }
    int failures_ = 0;
};

TEST_F(OsFamilyTest, ThisMachineIsOfTheNtFamily)
{
    const std::unique_ptr<OsVersionQuery> query = OpenMachine()->OpenOsVersionQuery();
    EXPECT_TRUE(IsWindowsNT(*query, CountFailures()));
    EXPECT_FALSE(IsWindows9x(*query, CountFailures()));
    EXPECT_EQ(failures_, 0);
}

TEST_F(OsFamilyTest, OnlyThePlatformIdDecides)
{
    FixedOsVersionQuery windows98(VER_PLATFORM_WIN32_WINDOWS);
    EXPECT_TRUE(IsWindows9x(windows98, CountFailures()));
    EXPECT_FALSE(IsWindowsNT(windows98, CountFailures()));

    FixedOsVersionQuery win32s(VER_PLATFORM_WIN32s);
    EXPECT_FALSE(IsWindows9x(win32s, CountFailures()));
    EXPECT_FALSE(IsWindowsNT(win32s, CountFailures()));
    EXPECT_EQ(failures_, 0);
}

TEST_F(OsFamilyTest, EachTestAsksAnewAndReportsItsOwnFailure)
{
    FixedOsVersionQuery failing(VER_PLATFORM_WIN32_NT, false);
    EXPECT_FALSE(IsWindows9x(failing, CountFailures()));
    EXPECT_EQ(failures_, 1);
    EXPECT_FALSE(IsWindowsNT(failing, CountFailures()));
    EXPECT_EQ(failures_, 2);
    EXPECT_EQ(failing.Calls(), 2);

    EXPECT_FALSE(IsWindowsNT(failing, nullptr)) << "no sink: still false, nothing called";
}

}  // namespace
}  // namespace tarvik
