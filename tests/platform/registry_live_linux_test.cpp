// The live registry source, over a sysfs tree made for the test.

#include "platform/registry/registry.h"
#include "registry_reading.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace tarvik {
namespace {

class LiveRegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = std::filesystem::temp_directory_path() /
                ("tarvik-sysfs-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_);
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

    void AddInterface(const std::string& name, int index, int type, const std::string& flags,
                      const std::string& address, const std::string& carrier,
                      const std::string& driver = {})
    {
        const auto directory = root_ / "devices" / name;
        std::filesystem::create_directories(directory);
        Write(directory / "ifindex", std::to_string(index));
        Write(directory / "type", std::to_string(type));
        Write(directory / "flags", flags);
        Write(directory / "address", address);
        if (!carrier.empty()) {
            Write(directory / "carrier", carrier);
        }
        if (!driver.empty()) {
            std::filesystem::create_directories(root_ / "drivers" / driver);
            std::filesystem::create_directories(directory / "device");
            std::filesystem::create_directory_symlink(root_ / "drivers" / driver,
                                                      directory / "device" / "driver");
        }
        std::filesystem::create_directories(root_ / "net");
        std::filesystem::create_directory_symlink(directory, root_ / "net" / name);
    }

    static void Write(const std::filesystem::path& path, const std::string& text)
    {
        std::ofstream(path) << text << "\n";
    }

    std::string NetRoot() const { return (root_ / "net").string(); }

    std::filesystem::path root_;
};

TEST_F(LiveRegistryTest, ListsInterfacesByIndexWithTheirValues)
{
    AddInterface("lo", 1, 772, "0x9", "00:00:00:00:00:00", "1");
    AddInterface("eth0", 2, 1, "0x1003", "52:54:00:12:34:56", "1", "virtio_net");
    AddInterface("wg0", 3, 65534, "0x91", "", "1");
    AddInterface("eth1", 10, 1, "0x1003", "52:54:00:ab:cd:ef", "0", "e1000");
    AddInterface("eth2", 9, 1, "0x1002", "52:54:00:00:00:09", "", "r8169");
    AddInterface("ifb0", 11, 1, "0x82", "6e:4a:71:98:d0:b4", "");

    LiveRegistry registry(NetRoot());
    RegistryKey cards;
    ASSERT_EQ(registry.OpenKey("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards",
                               cards),
              REGISTRY_SUCCESS);
    EXPECT_EQ(SubkeyNames(cards), (std::vector<std::string>{"1", "2", "3", "9", "10", "11"}))
        << "numeric index order, not text order";

    RegistryKey card;
    ASSERT_EQ(cards.OpenSubkey("2", card), REGISTRY_SUCCESS);
    EXPECT_EQ(ReadString(card, "ServiceName"), "eth0");
    EXPECT_EQ(ReadString(card, "Description"), "eth0 (virtio_net) 52:54:00:12:34:56, link up");
    std::uint32_t size = 4;
    std::uint8_t hidden[4];
    EXPECT_EQ(card.QueryValue("Hidden", nullptr, hidden, size), REGISTRY_NOT_FOUND);

    ASSERT_EQ(cards.OpenSubkey("10", card), REGISTRY_SUCCESS);
    EXPECT_EQ(ReadString(card, "Description"), "eth1 (e1000) 52:54:00:ab:cd:ef, link down");
    ASSERT_EQ(cards.OpenSubkey("9", card), REGISTRY_SUCCESS);
    EXPECT_EQ(ReadString(card, "Description"), "eth2 (r8169) 52:54:00:00:00:09, interface down");
    size = 4;
    EXPECT_EQ(card.QueryValue("Hidden", nullptr, hidden, size), REGISTRY_NOT_FOUND)
        << "a physical card stays listed while down";

    // The loopback, a tunnel and a virtual interface left down.
    for (const char* unusable : {"1", "3", "11"}) {
        ASSERT_EQ(cards.OpenSubkey(unusable, card), REGISTRY_SUCCESS);
        size = 4;
        std::uint32_t type = REG_NONE;
        EXPECT_EQ(card.QueryValue("Hidden", &type, hidden, size), REGISTRY_SUCCESS) << unusable;
        EXPECT_EQ(type, REG_DWORD);
    }

    EXPECT_EQ(cards.OpenSubkey("02", card), REGISTRY_NOT_FOUND);
    EXPECT_EQ(cards.OpenSubkey("4", card), REGISTRY_NOT_FOUND);
    EXPECT_EQ(registry.OpenKey("System\\CurrentControlSet\\Services\\Class\\Net", card),
              REGISTRY_NOT_FOUND);
}

TEST_F(LiveRegistryTest, ReadsTheOsAtEveryCall)
{
    AddInterface("eth0", 2, 1, "0x1003", "52:54:00:12:34:56", "1");
    LiveRegistry registry(NetRoot());
    RegistryKey cards;
    ASSERT_EQ(registry.OpenKey(NT_NETWORK_CARDS_KEY, cards), REGISTRY_SUCCESS);
    RegistryKey card;
    ASSERT_EQ(cards.OpenSubkey("2", card), REGISTRY_SUCCESS);

    AddInterface("veth7", 7, 1, "0x1003", "aa:bb:cc:dd:ee:ff", "1");
    EXPECT_EQ(SubkeyNames(cards), (std::vector<std::string>{"2", "7"}));

    Write(root_ / "devices" / "eth0" / "carrier", "0");
    EXPECT_EQ(ReadString(card, "Description"), "eth0 52:54:00:12:34:56, link down");

    std::filesystem::remove(root_ / "net" / "eth0");
    EXPECT_EQ(SubkeyNames(cards), (std::vector<std::string>{"7"}));
    EXPECT_EQ(ReadString(card, "ServiceName"), "<unreadable>");
}

TEST_F(LiveRegistryTest, AMissingSysfsListsNothing)
{
    LiveRegistry registry((root_ / "absent").string());
    RegistryKey cards;
    ASSERT_EQ(registry.OpenKey(NT_NETWORK_CARDS_KEY, cards), REGISTRY_SUCCESS);
    EXPECT_TRUE(SubkeyNames(cards).empty());
}

}  // namespace
}  // namespace tarvik
