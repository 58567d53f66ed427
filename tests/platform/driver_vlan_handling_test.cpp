// Adapters whose driver handles 802.1Q itself: their properties found in the network class
// among the other adapters', and Tarvik's own tagging refused on them (and only on them) in one
// line that says why and what to do.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/capture/driver_vlan_handling.h"

namespace tarvik {
namespace {

constexpr const char* GUID = "{5B7C2A3D-0E41-4F8A-9C7E-2D1F0B6A9E54}";

std::unique_ptr<FileRegistry> Parsed(std::string_view text)
{
    std::string error;
    std::unique_ptr<FileRegistry> registry = FileRegistry::Parse(text, error);
    EXPECT_NE(registry, nullptr) << error;
    return registry;
}

// Three adapters, the second one's driver handling tags; "Properties" holds no adapter.
constexpr std::string_view CLASS = R"(REGEDIT4

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Class\{4d36e972-e325-11ce-bfc1-08002be10318}\0000]
"NetCfgInstanceId"="{0A0A0A0A-1111-2222-3333-444444444444}"
"*PriorityVLANTag"="0"

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Class\{4d36e972-e325-11ce-bfc1-08002be10318}\0007]
"DriverDesc"="Intel(R) Ethernet Connection (7) I219-LM"
"NetCfgInstanceId"="{5b7c2a3d-0e41-4f8a-9c7e-2d1f0b6a9e54}"
"*PriorityVLANTag"="3"
"VlanID"=dword:00000000

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Class\{4d36e972-e325-11ce-bfc1-08002be10318}\0011]
"NetCfgInstanceId"="{A0E36D1C-77B2-4E5F-8E21-4C9D3F8B1A60}"

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Class\{4d36e972-e325-11ce-bfc1-08002be10318}\Properties]
"Security"=hex:01,00
)";

// --- finding the adapter's properties ---

TEST(DriverVlanPropertiesTest, FindsTheAdapterByItsGuidInAnyCase)
{
    auto registry = Parsed(CLASS);
    const std::optional<DriverVlanProperties> found = ReadDriverVlanProperties(*registry, GUID);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->PriorityVlanTag, "3");
    EXPECT_EQ(found->VlanId, "0") << "a number is read as its decimal text";
}

TEST(DriverVlanPropertiesTest, AdapterWithoutTheValuesHasNone)
{
    auto registry = Parsed(CLASS);
    const std::optional<DriverVlanProperties> found =
        ReadDriverVlanProperties(*registry, "{A0E36D1C-77B2-4E5F-8E21-4C9D3F8B1A60}");
    ASSERT_TRUE(found);
    EXPECT_FALSE(found->PriorityVlanTag);
    EXPECT_FALSE(found->VlanId);
}

TEST(DriverVlanPropertiesTest, NothingForAnAdapterNotInTheClassOrAMachineWithoutIt)
{
    auto registry = Parsed(CLASS);
    EXPECT_FALSE(ReadDriverVlanProperties(*registry, "{FFFFFFFF-1111-2222-3333-444444444444}"));
    EXPECT_FALSE(ReadDriverVlanProperties(*registry, ""));
    auto bare = Parsed("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet]\n");
    EXPECT_FALSE(ReadDriverVlanProperties(*bare, GUID));
}

TEST(DriverVlanPropertiesTest, ValueOfAnotherTypeCountsAsAbsent)
{
    auto registry = Parsed(R"(REGEDIT4

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Class\{4d36e972-e325-11ce-bfc1-08002be10318}\0003]
"NetCfgInstanceId"="{5B7C2A3D-0E41-4F8A-9C7E-2D1F0B6A9E54}"
"*PriorityVLANTag"=hex:03
"VlanID"="12"
)");
    const std::optional<DriverVlanProperties> found = ReadDriverVlanProperties(*registry, GUID);
    ASSERT_TRUE(found);
    EXPECT_FALSE(found->PriorityVlanTag);
    EXPECT_EQ(found->VlanId, "12");
}

// --- the refusal ---

std::optional<std::string> Judged(std::optional<std::string> tagging,
                                  std::optional<std::string> vlanId = std::nullopt)
{
    return DriverVlanRefusal({std::move(tagging), std::move(vlanId)}, "Ethernet 2", 12);
}

TEST(DriverVlanRefusalTest, DriverTakingTagsOffIsRefusedInOneLineWithTheRemedy)
{
    const std::optional<std::string> refusal = Judged("3");
    ASSERT_TRUE(refusal);
    EXPECT_EQ(*refusal,
              "adapter \"Ethernet 2\" cannot carry VLAN 12 tagged by Tarvik: its driver takes the "
              "VLAN tags off the frames it receives (\"Priority & VLAN\" is on); turn \"Priority "
              "& VLAN\" off in the adapter's advanced properties, or give each bay an adapter of "
              "its own");
    EXPECT_EQ(Judged("2"), refusal) << "VLAN tags without priority are taken off as well";
    EXPECT_EQ(Judged(" 3 ", "0"), refusal);
}

TEST(DriverVlanRefusalTest, DriverOnAVlanOfItsOwnIsRefusedWhateverItsTagging)
{
    for (const char* tagging : {"0", "3"}) {
        const std::optional<std::string> refusal = Judged(tagging, "5");
        ASSERT_TRUE(refusal) << tagging;
        EXPECT_EQ(*refusal,
                  "adapter \"Ethernet 2\" cannot carry VLAN 12 tagged by Tarvik: its driver is "
                  "itself on VLAN 5 (\"VLAN ID\" in its advanced properties); set \"VLAN ID\" to "
                  "0 and turn \"Priority & VLAN\" off in the adapter's advanced properties, or "
                  "give each bay an adapter of its own");
    }
}

TEST(DriverVlanRefusalTest, TaggingGoesAheadWhereTheDriverLeavesTagsAlone)
{
    EXPECT_FALSE(Judged(std::nullopt)) << "no such property (Wine, most USB adapters)";
    EXPECT_FALSE(Judged("0"));
    EXPECT_FALSE(Judged("1")) << "priority tags only: VLAN tags pass";
    EXPECT_FALSE(Judged("0", "0"));
    EXPECT_FALSE(Judged(std::nullopt, "0"));
}

TEST(DriverVlanRefusalTest, UnreadableValuesAreNoReasonToRefuse)
{
    for (const char* text : {"", "on", "3x", "-3", "0x3", "99999999999"}) {
        EXPECT_FALSE(Judged(text)) << '"' << text << '"';
        EXPECT_FALSE(Judged("0", text)) << '"' << text << '"';
    }
}

}  // namespace
}  // namespace tarvik
