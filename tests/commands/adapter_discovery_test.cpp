#include "commands/adapter_selection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "platform/kernel/sim_kernel.h"
#include "segment/virtual_segment.h"

namespace tarvik {
namespace {

constexpr MacAddress ETHERNET_A = {0x00, 0x40, 0x05, 0x00, 0x00, 0x0A};
constexpr MacAddress ETHERNET_B = {0x00, 0x40, 0x05, 0x00, 0x00, 0x0B};
constexpr MacAddress TOKEN_RING = {0x10, 0x00, 0x5A, 0x00, 0x00, 0x01};

std::string FixturePath(const char* name)
{
    return (std::filesystem::path(TARVIK_REGISTRY_FIXTURES) / name).string();
}

std::unique_ptr<FileRegistry> LoadFixture(const char* name)
{
    std::string error;
    auto registry = FileRegistry::Load(FixturePath(name), error);
    EXPECT_NE(registry, nullptr) << error;
    return registry;
}

std::unique_ptr<FileRegistry> ParseRegistry(std::string_view text)
{
    std::string error;
    auto registry = FileRegistry::Parse(text, error);
    EXPECT_NE(registry, nullptr) << error;
    return registry;
}

// The virtual segment's driver, with a record of what was opened and closed.
class RecordingDriver final : public ForwardingPacketDriver {
public:
    using ForwardingPacketDriver::ForwardingPacketDriver;

    std::int32_t OpenAdapter(const char* name) override
    {
        Opens.emplace_back(name);
        const std::int32_t handle = Inner().OpenAdapter(name);
        if (handle != INVALID_ADAPTER) {
            open_[handle] = name;
        }
        return handle;
    }
    void CloseAdapter(std::int32_t adapter) override
    {
        open_.erase(adapter);
        Inner().CloseAdapter(adapter);
    }

    // The names of the adapters open now.
    std::vector<std::string> OpenNow() const
    {
        std::vector<std::string> names;
        for (const auto& [handle, name] : open_) {
            names.push_back(name);
        }
        return names;
    }

    std::vector<std::string> Opens;

private:
    std::map<std::int32_t, std::string> open_;
};

// Counts its runs and answers with a fixed index (or leaves the list alone).
class ScriptedSelection final : public AdapterSelectionPort {
public:
    explicit ScriptedSelection(std::optional<int> answer = std::nullopt) : answer_(answer) {}
    void SelectAdapter(AdapterList& list) override
    {
        ++Runs;
        Seen = list.Descriptions;
        if (answer_) {
            list.Selection = *answer_;
        }
    }
    int Runs = 0;
    std::vector<std::string> Seen;

private:
    std::optional<int> answer_;
};

class AdapterDiscoveryTest : public ::testing::Test {
protected:
    // The adapters the machine of the fixtures has, by the names each family opens them by.
    void AddFixtureAdapters()
    {
        virtualDriver.AddAdapter("0000", TOKEN_RING, NDIS_MEDIUM_802_5);
        virtualDriver.AddAdapter("0001", ETHERNET_A);
        virtualDriver.AddAdapter("\\Device\\El90x1", ETHERNET_A);
        virtualDriver.AddAdapter("\\Device\\E100B1", ETHERNET_B);
    }

    MacAddress OpenedAddress()
    {
        MacAddress address{};
        EXPECT_EQ(binding.QueryStationAddress(address.data()), 0);
        return address;
    }

    SimKernel kernel;
    VirtualSegment segment{kernel};
    VirtualAdapterDriver virtualDriver{kernel, segment};
    RecordingDriver driver{virtualDriver};
    Binding binding{kernel, driver};
    AdapterList list;
    ScriptedSelection selection;
};

// --- the 95/98 family: every class subkey is probed by opening it ---

TEST_F(AdapterDiscoveryTest, Windows9xListsOnlyTheEthernetCardAndOpensItByItsSubkeyName)
{
    AddFixtureAdapters();
    auto registry = LoadFixture("9x_token_ring_and_ethernet.reg");

    EXPECT_EQ(FindAdapters9x(*registry, binding, selection, list), DISCOVERY_OK);

    EXPECT_EQ(list.Count, 1);
    EXPECT_EQ(list.Names, std::vector<std::string>{"0001"});
    EXPECT_EQ(list.Descriptions, std::vector<std::string>{"Realtek RTL8029(AS) PCI Ethernet NIC"});
    EXPECT_EQ(selection.Runs, 0) << "one adapter: no selection step";
    EXPECT_EQ(driver.Opens, (std::vector<std::string>{"0000", "0001", "0001"}))
        << "both probed, then the chosen one opened for good";
    EXPECT_EQ(driver.OpenNow(), std::vector<std::string>{"0001"}) << "every probe was closed";
    EXPECT_EQ(OpenedAddress(), ETHERNET_A);
    EXPECT_TRUE(binding.ReceptionStarted());
    EXPECT_TRUE(binding.MediumVerified);
    EXPECT_EQ(virtualDriver.PacketFilter(binding.AdapterHandle),
              NDIS_PACKET_TYPE_DIRECTED | NDIS_PACKET_TYPE_BROADCAST);
}

TEST_F(AdapterDiscoveryTest, Windows9xTellsAFailedOpenFromNoEthernetCard)
{
    auto registry = LoadFixture("9x_token_ring_and_ethernet.reg");

    // No adapter of either subkey opens.
    EXPECT_EQ(FindAdapters9x(*registry, binding, selection, list), DISCOVERY_OPEN_ADAPTER_FAILED);
    EXPECT_EQ(list.Count, 0);

    // Both open, neither is 802.3.
    virtualDriver.AddAdapter("0000", TOKEN_RING, NDIS_MEDIUM_802_5);
    virtualDriver.AddAdapter("0001", TOKEN_RING, NDIS_MEDIUM_LOCALTALK);
    EXPECT_EQ(FindAdapters9x(*registry, binding, selection, list), DISCOVERY_NO_ADAPTER);
    EXPECT_TRUE(driver.OpenNow().empty()) << "the last probe is closed too";
    EXPECT_EQ(binding.AdapterHandle, INVALID_ADAPTER);
}

TEST_F(AdapterDiscoveryTest, Windows9xCountsOneFailedOpenAmongProbesThatFoundNothing)
{
    virtualDriver.AddAdapter("0000", TOKEN_RING, NDIS_MEDIUM_802_5);
    auto registry = LoadFixture("9x_token_ring_and_ethernet.reg");
    EXPECT_EQ(FindAdapters9x(*registry, binding, selection, list), DISCOVERY_OPEN_ADAPTER_FAILED);
}

TEST_F(AdapterDiscoveryTest, Windows9xListsACardWhoseDescriptionCannotBeRead)
{
    virtualDriver.AddAdapter("0000", ETHERNET_A);
    auto registry = ParseRegistry(R"(REGEDIT4
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\Net\0000]
"DriverDesc"=")" + std::string(261, 'x') +
                                  R"("
)");
    EXPECT_EQ(FindAdapters9x(*registry, binding, selection, list), DISCOVERY_OK);
    EXPECT_EQ(list.Names, std::vector<std::string>{"0000"});
    EXPECT_EQ(list.Descriptions, std::vector<std::string>{""})
        << "261 characters and a terminator do not fit a 261-byte buffer";
}

// --- the NT family: cards are listed from the registry alone ---

TEST_F(AdapterDiscoveryTest, WindowsNtRunsTheSelectionStepAndOpensTheFirstWhenUntouched)
{
    AddFixtureAdapters();
    auto registry = LoadFixture("nt_two_cards.reg");

    EXPECT_EQ(FindAdaptersNT(*registry, binding, selection, list), DISCOVERY_OK);

    EXPECT_EQ(selection.Runs, 1);
    EXPECT_EQ(selection.Seen,
              (std::vector<std::string>{"3Com EtherLink XL 10/100 PCI NIC (3C905-TX)",
                                        "Intel(R) PRO/100+ PCI Adapter"}))
        << "the card with Hidden = 0 is not offered";
    EXPECT_EQ(list.Names, (std::vector<std::string>{"\\Device\\El90x1", "\\Device\\E100B1"}));
    EXPECT_EQ(driver.Opens, std::vector<std::string>{"\\Device\\El90x1"})
        << "nothing is opened while listing";
    EXPECT_EQ(OpenedAddress(), ETHERNET_A);
    EXPECT_TRUE(binding.ReceptionStarted());
    EXPECT_FALSE(binding.MediumVerified) << "the NT path never checks the medium";
}

TEST_F(AdapterDiscoveryTest, WindowsNtOpensTheSelectedCardAndFallsBackToTheFirstOnABadIndex)
{
    AddFixtureAdapters();
    auto registry = LoadFixture("nt_two_cards.reg");

    ScriptedSelection second(1);
    EXPECT_EQ(FindAdaptersNT(*registry, binding, second, list), DISCOVERY_OK);
    EXPECT_EQ(OpenedAddress(), ETHERNET_B);
    binding.StopReception();
    binding.CloseRequestEvent();
    binding.CloseAdapter();

    for (const int bad : {2, -1}) {
        ScriptedSelection outOfRange(bad);
        EXPECT_EQ(FindAdaptersNT(*registry, binding, outOfRange, list), DISCOVERY_OK);
        EXPECT_EQ(list.Selection, 0);
        EXPECT_EQ(OpenedAddress(), ETHERNET_A);
        binding.StopReception();
        binding.CloseRequestEvent();
        binding.CloseAdapter();
    }
}

TEST_F(AdapterDiscoveryTest, WindowsNtHidesACardWhoseHiddenValueFitsFourBytes)
{
    auto registry = ParseRegistry(R"(REGEDIT4
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\NetworkCards\1]
"ServiceName"="Zero"
"Hidden"=dword:00000000
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\NetworkCards\2]
"ServiceName"="ShortText"
"Hidden"="yes"
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\NetworkCards\3]
"ServiceName"="LongText"
"Description"="a Hidden value of five bytes does not fit, so the card shows"
"Hidden"="true"
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\NetworkCards\4]
"Description"="no service name"
)");
    EXPECT_EQ(ListAdaptersNT(*registry, list), DISCOVERY_OK);
    EXPECT_EQ(list.Names, (std::vector<std::string>{"\\Device\\LongText", "\\Device\\"}));
    EXPECT_EQ(list.Count, 2);
}

TEST_F(AdapterDiscoveryTest, WindowsNtWithoutCardsOrWithoutTheKey)
{
    auto empty = LoadFixture("nt_no_cards.reg");
    EXPECT_EQ(FindAdaptersNT(*empty, binding, selection, list), DISCOVERY_NO_ADAPTER);

    auto missing = LoadFixture("no_network_keys.reg");
    EXPECT_EQ(FindAdaptersNT(*missing, binding, selection, list), DISCOVERY_OPEN_REGISTRY_FAILED);
    EXPECT_EQ(FindAdapters9x(*missing, binding, selection, list), DISCOVERY_OPEN_REGISTRY_FAILED);
    EXPECT_TRUE(driver.Opens.empty());
}

// The same file is imported into Wine's registry for the Windows build, which must list the
// same cards (tests/windows/registry_test.sh).
TEST_F(AdapterDiscoveryTest, TheOddCardsFixtureListsWhatTheRealRegistryMustList)
{
    auto registry = LoadFixture("nt_odd_cards.reg");
    EXPECT_EQ(ListAdaptersNT(*registry, list), DISCOVERY_OK);
    EXPECT_EQ(list.Descriptions,
              (std::vector<std::string>{"A card that is not there",
                                        "Shown, its Hidden text too long to read",
                                        "No service name", "Under the longest name read"}));
    EXPECT_EQ(list.Names, (std::vector<std::string>{
                              "\\Device\\{5EB8E1A0-0000-4000-8000-00000000DEAD}",
                              "\\Device\\{5EB8E1A0-0000-4000-8000-000000000004}", "\\Device\\",
                              "\\Device\\{5EB8E1A0-0000-4000-8000-000000000006}"}));
    EXPECT_EQ(FindAdaptersNT(*registry, binding, selection, list), DISCOVERY_OPEN_ADAPTER_FAILED)
        << "the first card's adapter is gone";
}

TEST_F(AdapterDiscoveryTest, ASubkeyNameTooLongForItsBufferEndsTheEnumeration)
{
    auto registry = ParseRegistry(R"(REGEDIT4
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\NetworkCards\AFifteenCharKey]
"ServiceName"="fits"
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\NetworkCards\BSixteenCharKeys]
"ServiceName"="too long"
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\NetworkCards\C]
"ServiceName"="after the long one"
)");
    EXPECT_EQ(ListAdaptersNT(*registry, list), DISCOVERY_OK);
    EXPECT_EQ(list.Names, std::vector<std::string>{"\\Device\\fits"});
}

TEST_F(AdapterDiscoveryTest, KeepsEveryCardBeyondFive)
{
    std::string text = "REGEDIT4\n";
    for (int i = 0; i < 7; ++i) {
        text +=
            "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards\\" +
            std::to_string(i) + "]\n\"ServiceName\"=\"eth" + std::to_string(i) +
            "\"\n\"Description\"=\"card " + std::to_string(i) + "\"\n";
    }
    virtualDriver.AddAdapter("\\Device\\eth6", ETHERNET_B);
    auto registry = ParseRegistry(text);

    ScriptedSelection last(6);
    EXPECT_EQ(FindAdaptersNT(*registry, binding, last, list), DISCOVERY_OK);
    EXPECT_EQ(list.Count, 7);
    ASSERT_EQ(last.Seen.size(), 7U);
    EXPECT_EQ(last.Seen[6], "card 6");
    EXPECT_EQ(OpenedAddress(), ETHERNET_B);
}

// --- the opening steps ---

TEST_F(AdapterDiscoveryTest, EachOpeningStepHasItsOwnResult)
{
    AddFixtureAdapters();
    auto registry = LoadFixture("nt_two_cards.reg");

    virtualDriver.FailOpens(true);
    EXPECT_EQ(FindAdaptersNT(*registry, binding, selection, list), DISCOVERY_OPEN_ADAPTER_FAILED);
    virtualDriver.FailOpens(false);

    kernel.FailNextCreateEvents(1);
    EXPECT_EQ(FindAdaptersNT(*registry, binding, selection, list), DISCOVERY_OPEN_EVENT_FAILED);
    EXPECT_TRUE(driver.OpenNow().empty());

    virtualDriver.FailRequests(true);
    EXPECT_EQ(FindAdaptersNT(*registry, binding, selection, list),
              DISCOVERY_START_RECEPTION_FAILED);
    EXPECT_TRUE(driver.OpenNow().empty());
    EXPECT_FALSE(binding.ReceptionStarted());
}

TEST_F(AdapterDiscoveryTest, FindsAnAdapterByInterfaceOrDriverName)
{
    list.Add("first", "\\Device\\eth0");
    list.Add("second", "\\Device\\eth1");
    EXPECT_EQ(FindAdapterIndex(list, "eth1"), 1);
    EXPECT_EQ(FindAdapterIndex(list, "\\Device\\eth0"), 0);
    EXPECT_EQ(FindAdapterIndex(list, "eth"), -1);
    EXPECT_EQ(FindAdapterIndex(list, "\\Device\\"), -1);
}

TEST_F(AdapterDiscoveryTest, AVlanOfAListedAdapterIsAddedAfterTheOthers)
{
    list.Add("first", "\\Device\\eth0");
    EXPECT_EQ(AddVlanAdapter(list, "\\Device\\eth0.7"), 1);
    EXPECT_EQ(AddVlanAdapter(list, "eth0.4094"), 2);
    EXPECT_EQ(list.Names, (std::vector<std::string>{"\\Device\\eth0", "\\Device\\eth0.7",
                                                    "\\Device\\eth0.4094"}));
    EXPECT_EQ(list.Descriptions[1], "first, VLAN 7");
    EXPECT_EQ(list.Count, 3);
    for (const char* name : {"eth0", "eth0.0", "eth0.4095", "eth1.7", "eth0.7x"}) {
        EXPECT_EQ(AddVlanAdapter(list, name), -1) << name;
    }
    EXPECT_EQ(list.Count, 3);
}

}  // namespace
}  // namespace tarvik
