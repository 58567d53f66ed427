// The run environment gives up the process's capabilities once a real interface is open, and
// a program that could not give them up does not go on. Before a toolkit starts, it opens the
// captures of every adapter it may use and only then gives the capabilities up.

#include "commands/run_environment.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands/outcomes.h"
#include "commands/startup.h"
#include "message_port.h"
#include "platform/kernel/sim_kernel.h"
#include "segment/virtual_segment.h"

namespace tarvik {
namespace {

constexpr MacAddress CARD = {0x00, 0x40, 0x05, 0x00, 0x00, 0x01};

constexpr std::string_view TWO_CARDS = R"(REGEDIT4
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\NetworkCards\1]
"ServiceName"="eth0"
"Description"="the card"
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\NetworkCards\2]
"ServiceName"="eth1"
"Description"="the other card"
)";

// What the process and its captures were asked, in order.
using Acts = std::vector<std::string>;

// Answers the drops as told; it never touches the test's own capabilities.
class ScriptedProcess final : public ProcessInfo {
public:
    explicit ScriptedProcess(Acts& acts) : acts_(acts) {}
    bool HasRawNetworkAccess() override { return RawAccess && Drops == 0; }
    std::string ExecutablePath(std::string_view invokedAs) override
    {
        return "/usr/bin/" + std::string(invokedAs);
    }
    bool DropAllCapabilities() override
    {
        ++Drops;
        acts_.push_back("drop");
        return DropSucceeds;
    }
    bool RawAccess = true;
    bool DropSucceeds = true;
    int Drops = 0;

private:
    Acts& acts_;
};

class RecordingCaptures final : public CaptureControl {
public:
    explicit RecordingCaptures(Acts& acts) : acts_(acts) {}
    void Prepare(const std::string& adapterName) override
    {
        acts_.push_back("prepare " + adapterName);
    }
    void ForgetPrepared() override { acts_.push_back("forget"); }
    void AdmitEveryFrame() override { acts_.push_back("admit every frame"); }
    std::string OpenFailureNote() override { return Note; }
    std::string Note;

private:
    Acts& acts_;
};

class PrivilegeDropTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        registry = FileRegistry::Parse(TWO_CARDS, error);
        ASSERT_NE(registry, nullptr) << error;
    }

    std::unique_ptr<RunEnvironment> Environment(InterfaceAccess& access)
    {
        return std::make_unique<RunEnvironment>(EnvironmentParts{kernel, driver, *registry, nt,
                                                                 files, access});
    }

    int Start(InterfaceAccess& access, std::string_view adapter = {})
    {
        FirstAdapterSelection first;
        return Environment(access)->Start(first, port, adapter);
    }

    SimKernel kernel;
    VirtualSegment segment{kernel};
    VirtualAdapterDriver driver{kernel, segment};
    std::unique_ptr<FileRegistry> registry;
    FixedOsVersionQuery nt{VER_PLATFORM_WIN32_NT};
    SystemFileSystem files;
    Acts acts;
    ScriptedProcess process{acts};
    RecordingCaptures captures{acts};
    RealInterfaceAccess real{captures, process};
    LabAccess lab;
    MessagePort port;
};

TEST_F(PrivilegeDropTest, AnOpenRealInterfaceIsFollowedByOneDrop)
{
    driver.AddAdapter("\\Device\\eth0", CARD);
    EXPECT_EQ(Start(real), STARTUP_READY);
    EXPECT_EQ(Start(real, "eth0"), STARTUP_READY);
    EXPECT_EQ(process.Drops, 2);
    EXPECT_EQ(acts, (Acts{"forget", "drop", "forget", "drop"}))
        << "the captures the sequence did not take are closed before the program goes on";
    EXPECT_TRUE(port.Messages.empty());
}

TEST_F(PrivilegeDropTest, AFailedDropStopsTheProgramWithItsMessage)
{
    driver.AddAdapter("\\Device\\eth0", CARD);
    process.DropSucceeds = false;
    const int result = Start(real);
    EXPECT_EQ(result, STARTUP_CAPABILITIES_KEPT);
    EXPECT_FALSE(StartupLetsProgramRun(result));
    EXPECT_EQ(StartupExitStatus(result), 38);
    EXPECT_EQ(port.Messages, std::vector<std::string>{std::string(MSG_CAPABILITIES_KEPT)});
}

TEST_F(PrivilegeDropTest, AFailedOpenKeepsTheRightsForThePrivilegeHint)
{
    // No adapter behind the listed card: the open fails, and the hint must still see whether
    // the process had raw network access.
    EXPECT_EQ(Start(real), DISCOVERY_OPEN_ADAPTER_FAILED);
    EXPECT_EQ(acts, Acts{"forget"});
    const std::string hint = std::string(PRIVILEGE_HINT_PREFIX) + "/usr/bin/tarvik-cli";
    const std::string note = "Npcap is not installed: install it";
    // The capture's reason follows a failed open only when the process had the access and
    // the reason tells the user what to do (Windows: the capture library to install).
    const struct {
        bool RawAccess;
        std::string Note;
        int Result;
        std::string Line;
    } rows[] = {
        {true, "", DISCOVERY_OPEN_ADAPTER_FAILED, ""},
        {true, note, DISCOVERY_OPEN_ADAPTER_FAILED, note},
        {false, note, DISCOVERY_OPEN_ADAPTER_FAILED, hint},
        {false, "", DISCOVERY_OPEN_ADAPTER_FAILED, hint},
        {false, note, DISCOVERY_NO_ADAPTER, ""},
        {true, note, DISCOVERY_NO_ADAPTER, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Note + (row.RawAccess ? " with access" : " without access"));
        process.RawAccess = row.RawAccess;
        captures.Note = row.Note;
        EXPECT_EQ(real.PrivilegeHintFor(row.Result, "tarvik-cli"), row.Line);
    }
}

TEST_F(PrivilegeDropTest, TheLabDropsNothingAndHintsNothing)
{
    driver.AddAdapter("\\Device\\eth0", CARD);
    EXPECT_EQ(Start(lab), STARTUP_READY);
    EXPECT_TRUE(Environment(lab)->OpenEarly());
    EXPECT_EQ(lab.PrivilegeHintFor(DISCOVERY_OPEN_ADAPTER_FAILED, "tarvik-cli"), "");
    EXPECT_TRUE(acts.empty());
}

// Before the toolkit starts: every capture the sequence could choose is opened while the
// process still may, and only then are the capabilities given up.
TEST_F(PrivilegeDropTest, OpenEarlyPreparesEveryListedCaptureBeforeTheDrop)
{
    const std::unique_ptr<RunEnvironment> environment = Environment(real);
    EXPECT_TRUE(environment->OpenEarly());
    EXPECT_EQ(acts, (Acts{"prepare \\Device\\eth0", "prepare \\Device\\eth1", "drop"}));
}

TEST_F(PrivilegeDropTest, OpenEarlyFailsWhenACapabilityIsKept)
{
    process.DropSucceeds = false;
    EXPECT_FALSE(Environment(real)->OpenEarly());
}

TEST_F(PrivilegeDropTest, OpenEarlyWithoutAListStillDrops)
{
    std::string error;
    registry = FileRegistry::Parse("REGEDIT4\n", error);
    ASSERT_NE(registry, nullptr) << error;
    EXPECT_TRUE(Environment(real)->OpenEarly());
    EXPECT_EQ(acts, Acts{"drop"}) << "no listing, nothing to prepare, but no right kept either";
}

// A VLAN on an adapter the user knows by its friendly name is named by that name and the id.
TEST_F(PrivilegeDropTest, AVlanOfAFriendlyNameOpensTheVlanOfItsAdapter)
{
    class Naming final : public InterfaceNaming {
    public:
        std::string FriendlyName(const std::string&) override { return {}; }
        std::string InterfaceOfName(const std::string& name) override
        {
            return name == "Ethernet 2" ? "eth1" : "";
        }
    } naming;
    RealInterfaceAccess named{captures, process, &naming};
    driver.AddAdapter("\\Device\\eth1.12", CARD);
    const std::unique_ptr<RunEnvironment> environment = Environment(named);
    FirstAdapterSelection first;
    EXPECT_EQ(environment->Start(first, port, "Ethernet 2.12"), STARTUP_READY);
    const AdapterList& list = environment->Adapters();
    EXPECT_EQ(list.Names[static_cast<std::size_t>(list.Selection)], "\\Device\\eth1.12");
    EXPECT_EQ(Environment(named)->Start(first, port, "Ethernet 3.12"), STARTUP_UNKNOWN_ADAPTER);
}

TEST_F(PrivilegeDropTest, AdmittingEveryFrameReachesTheRealCaptures)
{
    Environment(real)->Access().AdmitEveryFrame();
    Environment(lab)->Access().AdmitEveryFrame();
    EXPECT_EQ(acts, Acts{"admit every frame"});
}

}  // namespace
}  // namespace tarvik
