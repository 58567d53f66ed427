// The interface facts as Linux's reader takes them from /sys and /proc, over a fake tree of
// those files: each kind of interface doctor tells apart, without root and without the
// interfaces themselves.

#include "platform/host/interface_facts_linux.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace tarvik {
namespace {

namespace fs = std::filesystem;

class InterfaceFactsTreeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = fs::temp_directory_path() /
                ("tarvik-facts-" +
                 std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "sys/class/net");
        fs::create_directories(root_ / "proc/net");
        fs::create_directories(root_ / "proc/self/fd");
        Write("proc/net/packet", "sk RefCnt Type Proto Iface R Rmem User Inode\n");
    }
    void TearDown() override { fs::remove_all(root_); }

    void Write(const std::string& file, const std::string& text)
    {
        fs::create_directories((root_ / file).parent_path());
        std::ofstream(root_ / file) << text;
    }
    void Link(const std::string& link, const std::string& target)
    {
        fs::create_directories((root_ / link).parent_path());
        fs::create_symlink(target, root_ / link);
    }
    // An Ethernet interface that is up with its carrier, as the kernel shows one.
    void Interface(const std::string& name, unsigned index, bool up = true)
    {
        const std::string device = "sys/class/net/" + name + "/";
        Write(device + "flags", up ? "0x1003\n" : "0x1002\n");
        Write(device + "operstate", up ? "up\n" : "down\n");
        if (up) {
            Write(device + "carrier", "1\n");
        }
        Write(device + "type", "1\n");
        Write(device + "mtu", "1500\n");
        Write(device + "ifindex", std::to_string(index) + "\n");
    }
    InterfaceFacts Read(const std::string& name) { return ReadInterfaceFactsUnder(root_, name); }

    fs::path root_;
};

TEST_F(InterfaceFactsTreeTest, AWiredInterfaceUpWithItsCarrier)
{
    Interface("eth0", 2);
    const InterfaceFacts facts = Read("eth0");
    EXPECT_TRUE(facts.Exists);
    EXPECT_TRUE(facts.Up);
    EXPECT_TRUE(facts.Carrier);
    EXPECT_EQ(facts.OperState, "up");
    EXPECT_EQ(facts.Medium, InterfaceMedium::Ethernet);
    EXPECT_EQ(facts.Mtu, 1500u);
    EXPECT_FALSE(facts.BridgePort);
    EXPECT_TRUE(facts.BondMaster.empty());
    EXPECT_FALSE(facts.Vlan);
    EXPECT_TRUE(facts.OtherRawSockets.empty());
}

// The kernel's count of link changes, where it keeps one; a kernel without the file leaves
// it unknown, not 0.
TEST_F(InterfaceFactsTreeTest, TheCarrierChangesWhereTheKernelCountsThem)
{
    Interface("eth0", 2);
    Interface("eth1", 3);
    Write("sys/class/net/eth0/carrier_changes", "4294967301\n");
    EXPECT_EQ(Read("eth0").CarrierChanges, 4'294'967'301u);
    EXPECT_FALSE(Read("eth1").CarrierChanges);
}

TEST_F(InterfaceFactsTreeTest, NamesThatAreNoInterfaceOfTheTree)
{
    Interface("eth0", 2);
    for (const std::string name : {"eth9", "", "../net/eth0", "eth0/"}) {
        EXPECT_FALSE(Read(name).Exists) << '"' << name << '"';
    }
}

TEST_F(InterfaceFactsTreeTest, ADownInterfaceHasNoCarrierWhateverTheFileSays)
{
    Interface("eth0", 2, false);
    // The kernel refuses to read carrier on a down interface; a stale file must not count.
    Write("sys/class/net/eth0/carrier", "1\n");
    const InterfaceFacts facts = Read("eth0");
    EXPECT_TRUE(facts.Exists);
    EXPECT_FALSE(facts.Up);
    EXPECT_FALSE(facts.Carrier);
    EXPECT_EQ(facts.OperState, "down");
}

TEST_F(InterfaceFactsTreeTest, TheMediumFromTheHardwareTypeAndTheRadio)
{
    Interface("wlan0", 3);
    fs::create_directories(root_ / "sys/class/net/wlan0/wireless");
    Interface("wwan0", 4);
    fs::create_directories(root_ / "sys/class/net/wwan0/phy80211");
    Interface("tun0", 5);
    Write("sys/class/net/tun0/type", "65534\n");
    EXPECT_EQ(Read("wlan0").Medium, InterfaceMedium::WiFi);
    EXPECT_EQ(Read("wwan0").Medium, InterfaceMedium::WiFi);
    const InterfaceFacts tunnel = Read("tun0");
    EXPECT_EQ(tunnel.Medium, InterfaceMedium::Other);
    EXPECT_EQ(tunnel.LinkType, 65534u);
}

TEST_F(InterfaceFactsTreeTest, ABridgePortWithItsBridgesSpanningTree)
{
    Interface("eth1", 3);
    Interface("br0", 4);
    Link("sys/class/net/eth1/brport/bridge", "../../br0");
    Write("sys/class/net/eth1/brport/state", "1\n");
    Write("sys/class/net/br0/bridge/stp_state", "1\n");
    Write("sys/class/net/br0/bridge/forward_delay", "1500\n");  // hundredths of a second
    const InterfaceFacts facts = Read("eth1");
    ASSERT_TRUE(facts.BridgePort);
    EXPECT_EQ(facts.BridgePort->Bridge, "br0");
    EXPECT_TRUE(facts.BridgePort->SpanningTree);
    EXPECT_EQ(facts.BridgePort->ForwardDelayMs, 15000u);
    EXPECT_EQ(facts.BridgePort->PortState, "listening");
    EXPECT_FALSE(facts.BridgePort->Forwarding);

    Write("sys/class/net/eth1/brport/state", "3\n");
    Write("sys/class/net/br0/bridge/stp_state", "0\n");
    const InterfaceFacts forwarding = Read("eth1");
    ASSERT_TRUE(forwarding.BridgePort);
    EXPECT_TRUE(forwarding.BridgePort->Forwarding);
    EXPECT_FALSE(forwarding.BridgePort->SpanningTree);
}

TEST_F(InterfaceFactsTreeTest, ABondSlaveAndAVlan)
{
    Interface("eth2", 5);
    fs::create_directories(root_ / "sys/class/net/eth2/bonding_slave");
    Link("sys/class/net/eth2/master", "../bond0");
    Interface("eth0.100", 6);
    Write("proc/net/vlan/config", "VLAN Dev name    | VLAN ID\n"
                                  "Name-Type: VLAN_NAME_TYPE_RAW_PLUS_VID_NO_PAD\n"
                                  "eth0.100       | 100  | eth0\n");
    EXPECT_EQ(Read("eth2").BondMaster, "bond0");
    EXPECT_FALSE(Read("eth2").Vlan);
    const InterfaceFacts vlan = Read("eth0.100");
    ASSERT_TRUE(vlan.Vlan);
    EXPECT_EQ(vlan.Vlan->Id, 100u);
    EXPECT_EQ(vlan.Vlan->Parent, "eth0");
    EXPECT_TRUE(vlan.BondMaster.empty());
}

TEST_F(InterfaceFactsTreeTest, OtherProgramsRawSocketsOnTheInterfaceButNotOurOwn)
{
    Interface("eth0", 2);
    Interface("eth1", 3);
    Write("proc/net/packet", "sk RefCnt Type Proto Iface R Rmem User Inode\n"
                             "ffff0001 3 3 0003 2 1 0 0 777\n"       // tarvik-target's
                             "ffff0002 3 3 0003 2 1 0 1000 888\n"    // ours
                             "ffff0003 3 3 0003 3 1 0 0 999\n"       // on eth1
                             "ffff0004 3 3 0003 2 1 0 1001 555\n");  // nobody we can see
    Link("proc/42/fd/3", "socket:[777]");
    Write("proc/42/comm", "tarvik-target\n");
    Link("proc/self/fd/7", "socket:[888]");
    const InterfaceFacts facts = Read("eth0");
    ASSERT_EQ(facts.OtherRawSockets.size(), 2u);
    EXPECT_EQ(facts.OtherRawSockets[0].Program, "tarvik-target");
    EXPECT_EQ(facts.OtherRawSockets[0].ProcessId, 42);
    EXPECT_EQ(facts.OtherRawSockets[0].UserId, 0u);
    EXPECT_TRUE(facts.OtherRawSockets[1].Program.empty());
    EXPECT_EQ(facts.OtherRawSockets[1].ProcessId, 0);
    EXPECT_EQ(facts.OtherRawSockets[1].UserId, 1001u);
}

}  // namespace
}  // namespace tarvik
