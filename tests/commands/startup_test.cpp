#include "commands/startup.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "commands/outcomes.h"
#include "message_port.h"
#include "platform/kernel/sim_kernel.h"
#include "segment/virtual_segment.h"

namespace tarvik {
namespace {

constexpr MacAddress FIRST_CARD = {0x00, 0x40, 0x05, 0x00, 0x00, 0x01};
constexpr MacAddress SECOND_CARD = {0x00, 0x40, 0x05, 0x00, 0x00, 0x02};

// Two NT cards and one 95/98 class entry, so the family decides which is used.
constexpr std::string_view BOTH_FAMILIES = R"(REGEDIT4
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\NetworkCards\1]
"ServiceName"="eth0"
"Description"="first card"
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\NetworkCards\2]
"ServiceName"="eth1"
"Description"="second card"
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\Net\0000]
"DriverDesc"="the 98 card"
)";

class StartupSequenceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        registry = FileRegistry::Parse(BOTH_FAMILIES, error);
        ASSERT_NE(registry, nullptr) << error;
        driver.AddAdapter("\\Device\\eth0", FIRST_CARD);
        driver.AddAdapter("\\Device\\eth1", SECOND_CARD);
        driver.AddAdapter("0000", SECOND_CARD);
    }

    MacAddress OpenedAddress()
    {
        MacAddress address{};
        EXPECT_EQ(binding.QueryStationAddress(address.data()), 0);
        return address;
    }

    int Run(OsVersionQuery& query)
    {
        return RunStartupSequence(query, *registry, binding, first, port, list);
    }

    SimKernel kernel;
    VirtualSegment segment{kernel};
    VirtualAdapterDriver driver{kernel, segment};
    Binding binding{kernel, driver};
    std::unique_ptr<FileRegistry> registry;
    FirstAdapterSelection first;
    MessagePort port;
    AdapterList list;
};

TEST_F(StartupSequenceTest, TheNtFamilyOpensTheFirstCardSilently)
{
    FixedOsVersionQuery nt(VER_PLATFORM_WIN32_NT);
    EXPECT_EQ(Run(nt), STARTUP_READY);
    EXPECT_TRUE(port.Messages.empty());
    EXPECT_EQ(OpenedAddress(), FIRST_CARD);
    EXPECT_EQ(list.Count, 2) << "the list is left for the front end to show";
    EXPECT_TRUE(StartupLetsProgramRun(STARTUP_READY));
    EXPECT_EQ(StartupExitStatus(STARTUP_READY), 0);
}

TEST_F(StartupSequenceTest, The9xFamilyReadsTheClassKey)
{
    FixedOsVersionQuery windows98(VER_PLATFORM_WIN32_WINDOWS);
    EXPECT_EQ(Run(windows98), STARTUP_READY);
    EXPECT_EQ(list.Names, std::vector<std::string>{"0000"});
    EXPECT_EQ(OpenedAddress(), SECOND_CARD);
}

TEST_F(StartupSequenceTest, NeitherFamilyRunsOnWithoutAnAdapter)
{
    FixedOsVersionQuery win32s(VER_PLATFORM_WIN32s);
    const int result = Run(win32s);
    EXPECT_EQ(result, STARTUP_WITHOUT_ADAPTER);
    EXPECT_EQ(port.Messages, std::vector<std::string>{"Operation System Not Support ! "});
    EXPECT_EQ(binding.AdapterHandle, INVALID_ADAPTER);
    EXPECT_TRUE(StartupLetsProgramRun(result));
    EXPECT_EQ(StartupExitStatus(result), 35) << "the command line, which needs the adapter, ends";
}

TEST_F(StartupSequenceTest, AFailingVersionQueryIsReportedByEachTestThenCountsAsNeither)
{
    FixedOsVersionQuery failing(VER_PLATFORM_WIN32_NT, false);
    EXPECT_EQ(Run(failing), STARTUP_WITHOUT_ADAPTER);
    EXPECT_EQ(port.Messages,
              (std::vector<std::string>{"Get OSVersionInfo Fail", "Get OSVersionInfo Fail",
                                        "Operation System Not Support ! "}));
}

TEST_F(StartupSequenceTest, EachDiscoveryFailureShowsItsMessageAndEndsNonZero)
{
    FixedOsVersionQuery nt(VER_PLATFORM_WIN32_NT);
    std::string error;
    const auto noCards = FileRegistry::Parse(
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\"
        "NetworkCards]\n",
        error);
    const auto noKey = FileRegistry::Parse("REGEDIT4\n", error);

    struct Case {
        Registry& Source;
        std::function<void()> Arrange;
        int Result;
        std::string_view Message;
        int Status;  // both front ends'
    };
    const Case cases[] = {
        {*noCards, [] {}, DISCOVERY_NO_ADAPTER, MSG_NO_LAN_CARD, 30},
        {*registry, [this] { driver.FailOpens(true); }, DISCOVERY_OPEN_ADAPTER_FAILED,
         MSG_OPEN_ADAPTER_FAIL, 31},
        {*noKey, [] {}, DISCOVERY_OPEN_REGISTRY_FAILED, MSG_OPEN_REGISTRY_FAIL, 32},
        {*registry, [this] { kernel.FailNextCreateEvents(1); }, DISCOVERY_OPEN_EVENT_FAILED,
         MSG_OPEN_EVENT_FAIL, 33},
        {*registry, [this] { driver.FailRequests(true); }, DISCOVERY_START_RECEPTION_FAILED,
         MSG_START_RECEPTION_FAIL, 34},
    };
    for (const Case& c : cases) {
        port.Messages.clear();
        driver.FailOpens(false);
        driver.FailRequests(false);
        c.Arrange();
        const int result = RunStartupSequence(nt, c.Source, binding, first, port);
        EXPECT_EQ(result, c.Result);
        EXPECT_EQ(port.Messages, std::vector<std::string>{std::string(c.Message)});
        EXPECT_FALSE(StartupLetsProgramRun(result));
        EXPECT_EQ(StartupExitStatus(result), c.Status) << "the table's status, not the code";
        EXPECT_EQ(binding.AdapterHandle, INVALID_ADAPTER);
    }
}

TEST_F(StartupSequenceTest, ANamedAdapterIsOpenedWithoutTheSelectionStep)
{
    FixedOsVersionQuery nt(VER_PLATFORM_WIN32_NT);
    EXPECT_EQ(RunStartupSequenceFor(nt, *registry, binding, "eth1", port, list), STARTUP_READY);
    EXPECT_EQ(list.Selection, 1);
    EXPECT_EQ(OpenedAddress(), SECOND_CARD);
    EXPECT_TRUE(port.Messages.empty());
}

TEST_F(StartupSequenceTest, AnUnknownNameOpensNothingAndLeavesTheList)
{
    FixedOsVersionQuery nt(VER_PLATFORM_WIN32_NT);
    const int result = RunStartupSequenceFor(nt, *registry, binding, "wlan0", port, list);
    EXPECT_EQ(result, STARTUP_UNKNOWN_ADAPTER);
    EXPECT_TRUE(port.Messages.empty());
    EXPECT_EQ(list.Descriptions, (std::vector<std::string>{"first card", "second card"}));
    EXPECT_EQ(binding.AdapterHandle, INVALID_ADAPTER);
    EXPECT_EQ(StartupExitStatus(result), 37);
}

// IFACE.VID of a listed card is that card's VLAN: listed after the cards and opened by its own
// name (the driver decides between a VLAN interface of the system and tagging on the card).
// An id out of range or a card not listed is an unknown name like any other.
TEST_F(StartupSequenceTest, AVlanOfAListedCardIsListedAndOpenedByItsName)
{
    FixedOsVersionQuery nt(VER_PLATFORM_WIN32_NT);
    driver.AddAdapter("\\Device\\eth1.42", SECOND_CARD);
    EXPECT_EQ(RunStartupSequenceFor(nt, *registry, binding, "eth1.42", port, list), STARTUP_READY);
    EXPECT_EQ(list.Selection, 2);
    EXPECT_EQ(list.Names.back(), "\\Device\\eth1.42");
    EXPECT_EQ(list.Descriptions.back(), "second card, VLAN 42");
    EXPECT_EQ(OpenedAddress(), SECOND_CARD);

    for (const char* name : {"eth1.0", "eth1.4095", "eth2.42", "eth1.4x"}) {
        AdapterList unknown;
        EXPECT_EQ(RunStartupSequenceFor(nt, *registry, binding, name, port, unknown),
                  STARTUP_UNKNOWN_ADAPTER)
            << name;
        EXPECT_EQ(unknown.Count, 2) << name;
    }
}

// What each start-up result means for the program, read from its row: whether the desktop
// program goes on, whether the sequence shows a discovery text for it, and the one status both
// front ends end with.
TEST(StartupResultTest, EachResultGoesOnShowsAndEndsAsItsRowSays)
{
    struct Case {
        int Result;
        bool RunsOn;
        std::string_view DiscoveryText;
        int Status;
    };
    const Case cases[] = {
        {STARTUP_READY, true, "", 0},
        {DISCOVERY_NO_ADAPTER, false, "No LAN Card Detected !", 30},
        {DISCOVERY_OPEN_ADAPTER_FAILED, false, "Open Adapter Fail !", 31},
        {DISCOVERY_OPEN_REGISTRY_FAILED, false, "Open Registry Fail !", 32},
        {DISCOVERY_OPEN_EVENT_FAILED, false, "Open Event Fail !", 33},
        {DISCOVERY_START_RECEPTION_FAILED, false, "Start Reception Fail !", 34},
        // Its text was shown by the family test already: the sequence must not show it again.
        {STARTUP_WITHOUT_ADAPTER, true, "", 35},
        {STARTUP_NO_OS_VERSION, true, "", 36},
        {STARTUP_UNKNOWN_ADAPTER, false, "", 37},
        {STARTUP_CAPABILITIES_KEPT, false, "", 38},
        // No row: the program stops as after a failed open, never with another failure's
        // status or text, and never with 0.
        {99, false, "", 31},
        {-1, false, "", 31},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Result);
        EXPECT_EQ(StartupLetsProgramRun(c.Result), c.RunsOn);
        EXPECT_EQ(DiscoveryResultMessage(c.Result), c.DiscoveryText);
        EXPECT_EQ(StartupExitStatus(c.Result), c.Status);
    }
}

TEST(PrivilegeHintTest, FollowsOnlyAnOpenFailureWithoutRawAccess)
{
    EXPECT_EQ(PrivilegeHint(DISCOVERY_OPEN_ADAPTER_FAILED, "/usr/bin/tarvik-cli", false),
              "Run as root, or grant the program raw network access: sudo setcap cap_net_raw+ep "
              "/usr/bin/tarvik-cli");
    EXPECT_EQ(PrivilegeHint(DISCOVERY_OPEN_ADAPTER_FAILED, "/usr/bin/tarvik-cli", true), "");
    EXPECT_EQ(PrivilegeHint(DISCOVERY_NO_ADAPTER, "/usr/bin/tarvik-cli", false), "");
}

}  // namespace
}  // namespace tarvik
