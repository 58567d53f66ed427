// The run environment gives up the process's capabilities once a real interface is open, and
// a program that could not give them up does not go on.

#include "commands/run_environment.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands/outcomes.h"
#include "commands/startup.h"
#include "message_port.h"
#include "platform/sim_kernel.h"
#include "segment/virtual_segment.h"

namespace tarvik {
namespace {

constexpr MacAddress CARD = {0x00, 0x40, 0x05, 0x00, 0x00, 0x01};

constexpr std::string_view ONE_CARD = R"(REGEDIT4
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\NetworkCards\1]
"ServiceName"="eth0"
"Description"="the card"
)";

// Counts the drops and answers them as told; it never touches the test's own capabilities.
class ScriptedProcess final : public ProcessInfo {
public:
    bool HasRawNetworkAccess() override { return Drops == 0; }
    std::string ExecutablePath(std::string_view invokedAs) override
    {
        return std::string(invokedAs);
    }
    bool DropAllCapabilities() override
    {
        ++Drops;
        return DropSucceeds;
    }
    bool DropSucceeds = true;
    int Drops = 0;
};

class PrivilegeDropTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        registry = FileRegistry::Parse(ONE_CARD, error);
        ASSERT_NE(registry, nullptr) << error;
    }

    int Start(SegmentKind kind, std::string_view adapter = {})
    {
        RunEnvironment environment(EnvironmentParts{kernel, driver, *registry, nt, files, process},
                                   {}, RunSharing::OneRun, kind);
        FirstAdapterSelection first;
        return environment.Start(first, port, adapter);
    }

    SimKernel kernel;
    VirtualSegment segment{kernel};
    VirtualAdapterDriver driver{kernel, segment};
    std::unique_ptr<FileRegistry> registry;
    FixedOsVersionQuery nt{VER_PLATFORM_WIN32_NT};
    PosixFileSystem files;
    ScriptedProcess process;
    MessagePort port;
};

TEST_F(PrivilegeDropTest, AnOpenRealInterfaceIsFollowedByOneDrop)
{
    driver.AddAdapter("\\Device\\eth0", CARD);
    EXPECT_EQ(Start(SegmentKind::Real), STARTUP_READY);
    EXPECT_EQ(Start(SegmentKind::Real, "eth0"), STARTUP_READY);
    EXPECT_EQ(process.Drops, 2);
    EXPECT_TRUE(port.Messages.empty());
}

TEST_F(PrivilegeDropTest, AFailedDropStopsTheProgramWithItsMessage)
{
    driver.AddAdapter("\\Device\\eth0", CARD);
    process.DropSucceeds = false;
    const int result = Start(SegmentKind::Real);
    EXPECT_EQ(result, STARTUP_CAPABILITIES_KEPT);
    EXPECT_FALSE(StartupLetsProgramRun(result));
    EXPECT_NE(StartupExitStatus(result), 0);
    EXPECT_EQ(port.Messages, std::vector<std::string>{std::string(MSG_CAPABILITIES_KEPT)});
}

TEST_F(PrivilegeDropTest, AFailedOpenKeepsTheRightsForThePrivilegeHint)
{
    // No adapter behind the listed card: the open fails, and the hint must still see whether
    // the process had raw network access.
    EXPECT_EQ(Start(SegmentKind::Real), DISCOVERY_OPEN_ADAPTER_FAILED);
    EXPECT_EQ(process.Drops, 0);
}

TEST_F(PrivilegeDropTest, TheLabDropsNothing)
{
    driver.AddAdapter("\\Device\\eth0", CARD);
    EXPECT_EQ(Start(SegmentKind::Lab), STARTUP_READY);
    EXPECT_EQ(process.Drops, 0);
}

}  // namespace
}  // namespace tarvik
