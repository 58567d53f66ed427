#include "platform/registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace tarvik {
namespace {

std::unique_ptr<FileRegistry> ParseOrFail(std::string_view text)
{
    std::string error;
    auto registry = FileRegistry::Parse(text, error);
    EXPECT_NE(registry, nullptr) << error;
    return registry;
}

std::string ReadString(const RegistryKey& key, std::string_view name)
{
    char buffer[300];
    std::uint32_t size = sizeof buffer;
    std::uint32_t type = REG_NONE;
    if (key.QueryValue(name, &type, reinterpret_cast<std::uint8_t*>(buffer), size) !=
            REGISTRY_SUCCESS ||
        type != REG_SZ) {
        return "<unreadable>";
    }
    return std::string(buffer, strnlen(buffer, size));
}

std::vector<std::string> SubkeyNames(const RegistryKey& key)
{
    std::vector<std::string> names;
    for (std::uint32_t index = 0;; ++index) {
        char name[64];
        std::uint32_t chars = sizeof name;
        if (key.EnumKey(index, name, chars) != REGISTRY_SUCCESS) {
            return names;
        }
        names.emplace_back(name, chars);
    }
}

// --- the REGEDIT4 reader ---

TEST(RegistryFileTest, ReadsEscapedTextsWithTheirTerminator)
{
    auto registry = ParseOrFail(R"(REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Test]
"Path"="C:\\WINDOWS\\SYSTEM"
"Quoted"="say \"hi\""
"Empty"=""
@="default text"
)");
    RegistryKey key;
    ASSERT_EQ(registry->OpenKey("Software\\Test", key), REGISTRY_SUCCESS);
    EXPECT_EQ(ReadString(key, "Path"), "C:\\WINDOWS\\SYSTEM");
    EXPECT_EQ(ReadString(key, "Quoted"), "say \"hi\"");
    EXPECT_EQ(ReadString(key, "Empty"), "");
    EXPECT_EQ(ReadString(key, ""), "default text");

    std::uint32_t size = 0;
    ASSERT_EQ(key.QueryValue("Path", nullptr, nullptr, size), REGISTRY_SUCCESS);
    EXPECT_EQ(size, std::strlen("C:\\WINDOWS\\SYSTEM") + 1);
}

TEST(RegistryFileTest, StoresDwordsLittleEndianAndJoinsContinuedHexLines)
{
    auto registry = ParseOrFail("REGEDIT4\r\n"
                                "[HKEY_LOCAL_MACHINE\\Software\\Test]\r\n"
                                "\"Hidden\"=dword:0000000a\r\n"
                                "\"Big\"=dword:12345678\r\n"
                                "\"Blob\"=hex:01,02,\\\r\n"
                                "  03,ff\r\n"
                                "\"Multi\"=hex(7):41,00,00\r\n");
    RegistryKey key;
    ASSERT_EQ(registry->OpenKey("Software\\Test", key), REGISTRY_SUCCESS);

    std::uint8_t data[8] = {};
    std::uint32_t size = sizeof data;
    std::uint32_t type = REG_NONE;
    ASSERT_EQ(key.QueryValue("Hidden", &type, data, size), REGISTRY_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(size, 4U);
    EXPECT_EQ(data[0], 0x0A);

    size = sizeof data;
    ASSERT_EQ(key.QueryValue("Big", &type, data, size), REGISTRY_SUCCESS);
    EXPECT_EQ((std::vector<std::uint8_t>(data, data + 4)),
              (std::vector<std::uint8_t>{0x78, 0x56, 0x34, 0x12}));

    size = sizeof data;
    ASSERT_EQ(key.QueryValue("Blob", &type, data, size), REGISTRY_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ((std::vector<std::uint8_t>(data, data + size)),
              (std::vector<std::uint8_t>{0x01, 0x02, 0x03, 0xFF}));

    size = sizeof data;
    ASSERT_EQ(key.QueryValue("Multi", &type, data, size), REGISTRY_SUCCESS);
    EXPECT_EQ(type, 7U);
    EXPECT_EQ(size, 3U);
}

TEST(RegistryFileTest, NamesIgnoreCaseAndSubkeysEnumerateInNameOrder)
{
    auto registry = ParseOrFail(R"(REGEDIT4
[HKEY_LOCAL_MACHINE\System\Net\0002]
"DriverDesc"="second"
[HKEY_LOCAL_MACHINE\System\Net\beta]
[HKEY_LOCAL_MACHINE\System\Net\0000]
"DriverDesc"="first"
[hkey_local_machine\SYSTEM\net\Alpha]
[HKEY_LOCAL_MACHINE\System\Net\0002]
"Extra"="merged into the earlier section"
)");
    RegistryKey net;
    ASSERT_EQ(registry->OpenKey("system\\NET", net), REGISTRY_SUCCESS);
    EXPECT_EQ(SubkeyNames(net), (std::vector<std::string>{"0000", "0002", "Alpha", "beta"}));

    RegistryKey card;
    ASSERT_EQ(net.OpenSubkey("0002", card), REGISTRY_SUCCESS);
    EXPECT_EQ(ReadString(card, "driverdesc"), "second");
    EXPECT_EQ(ReadString(card, "Extra"), "merged into the earlier section");
}

TEST(RegistryFileTest, RejectsMalformedExportsNamingTheLine)
{
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"Windows Registry Editor Version 5.00\n", "line 1:"},
        {"REGEDIT4\n\"Loose\"=\"value before any key\"\n", "line 2:"},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"N\"=dword:123456789\n", "line 3:"},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"N\"=\"unterminated\n", "line 3:"},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\n", "line 2:"},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\nN=\"unquoted name\"\n", "line 3:"},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"N\"=hex:1,2\n", "line 3:"},
        {"", "line 1:"},
    };
    for (const auto& [text, where] : cases) {
        std::string error;
        EXPECT_EQ(FileRegistry::Parse(text, error), nullptr) << text;
        EXPECT_TRUE(error.starts_with(where)) << text << " gave " << error;
    }
}

// An export whose one key line nests depth levels deep.
std::string NestedExport(std::size_t depth)
{
    std::string text = "REGEDIT4\n[HKEY_LOCAL_MACHINE";
    for (std::size_t i = 0; i < depth; ++i) {
        text += "\\k";
    }
    return text + "]\n\"Deepest\"=\"here\"\n";
}

TEST(RegistryFileTest, RefusesKeysNestedBeyondTheRegistrysDepthWithoutExhaustingTheStack)
{
    std::string error;
    // 100,000 levels (200 KB) once took a stack frame per level to free.
    EXPECT_EQ(FileRegistry::Parse(NestedExport(100'000), error), nullptr);
    EXPECT_EQ(error, "line 2: keys nest at most 512 levels deep");
    EXPECT_EQ(FileRegistry::Parse(NestedExport(REGISTRY_MAX_KEY_DEPTH + 1), error), nullptr);

    auto registry = ParseOrFail(NestedExport(REGISTRY_MAX_KEY_DEPTH));
    std::string path = "k";
    for (std::size_t i = 1; i < REGISTRY_MAX_KEY_DEPTH; ++i) {
        path += "\\k";
    }
    RegistryKey deepest;
    ASSERT_EQ(registry->OpenKey(path, deepest), REGISTRY_SUCCESS);
    EXPECT_EQ(ReadString(deepest, "Deepest"), "here");
}

TEST(RegistryFileTest, ManySiblingKeysAreFoundByNameAndEnumerateInOrder)
{
    // Written in descending order, so that every key lands before all the others so far.
    constexpr int COUNT = 50'000;
    std::string text = "REGEDIT4\n";
    for (int i = COUNT - 1; i >= 0; --i) {
        char name[16];
        std::snprintf(name, sizeof name, "%05d", i);
        text += std::string("[HKEY_LOCAL_MACHINE\\Cards\\") + name +
                "]\n\"N\"=dword:" + std::to_string(i % 10) + "\n";
    }
    auto registry = ParseOrFail(text);
    RegistryKey cards;
    ASSERT_EQ(registry->OpenKey("CARDS", cards), REGISTRY_SUCCESS);
    const std::vector<std::string> names = SubkeyNames(cards);
    ASSERT_EQ(names.size(), static_cast<std::size_t>(COUNT));
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_EQ(names.front(), "00000");
    RegistryKey card;
    EXPECT_EQ(cards.OpenSubkey("31337", card), REGISTRY_SUCCESS);
}

// --- the buffer rules every source shares ---

class RegistryKeyBufferTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        registry_ = ParseOrFail(R"(REGEDIT4
[HKEY_LOCAL_MACHINE\Cards\FifteenCharName]
"Text"="abc"
"Number"=dword:00000001
[HKEY_LOCAL_MACHINE\Cards\SixteenCharNames]
)");
        ASSERT_EQ(registry_->OpenKey("Cards", cards_), REGISTRY_SUCCESS);
    }

    std::unique_ptr<FileRegistry> registry_;
    RegistryKey cards_;
};

TEST_F(RegistryKeyBufferTest, ASubkeyNameMustFitWithItsTerminator)
{
    char name[16];
    std::uint32_t chars = sizeof name;
    ASSERT_EQ(cards_.EnumKey(0, name, chars), REGISTRY_SUCCESS);
    EXPECT_STREQ(name, "FifteenCharName");
    EXPECT_EQ(chars, 15U);

    std::memset(name, '#', sizeof name);
    chars = sizeof name;
    EXPECT_EQ(cards_.EnumKey(1, name, chars), REGISTRY_MORE_DATA);
    EXPECT_EQ(name[0], '#') << "a name that does not fit is not written";

    char wider[17];
    chars = sizeof wider;
    EXPECT_EQ(cards_.EnumKey(1, wider, chars), REGISTRY_SUCCESS);
    EXPECT_EQ(cards_.EnumKey(2, wider, chars), REGISTRY_NO_MORE_ITEMS);
}

TEST_F(RegistryKeyBufferTest, AValueMustFitItsBuffer)
{
    RegistryKey card;
    ASSERT_EQ(cards_.OpenSubkey("FifteenCharName", card), REGISTRY_SUCCESS);

    std::uint8_t data[4];
    std::memset(data, '#', sizeof data);
    std::uint32_t size = 3;
    std::uint32_t type = REG_NONE;
    EXPECT_EQ(card.QueryValue("Text", &type, data, size), REGISTRY_MORE_DATA);
    EXPECT_EQ(size, 4U) << "the size needed is reported";
    EXPECT_EQ(data[0], '#');

    size = 4;
    ASSERT_EQ(card.QueryValue("Text", &type, data, size), REGISTRY_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(std::memcmp(data, "abc", 4), 0);

    size = 4;
    EXPECT_EQ(card.QueryValue("Missing", &type, data, size), REGISTRY_NOT_FOUND);
}

TEST_F(RegistryKeyBufferTest, PathsAreWalkedComponentByComponent)
{
    RegistryKey key;
    EXPECT_EQ(registry_->OpenKey("Cards\\FifteenCharName", key), REGISTRY_SUCCESS);
    EXPECT_EQ(registry_->OpenKey("Cards\\\\FifteenCharName", key), REGISTRY_NOT_FOUND);
    EXPECT_EQ(registry_->OpenKey("Cards\\", key), REGISTRY_NOT_FOUND);
    EXPECT_EQ(registry_->OpenKey("\\Cards", key), REGISTRY_NOT_FOUND);
    EXPECT_EQ(registry_->OpenKey("Cards\\FifteenCharName\\Deeper", key), REGISTRY_NOT_FOUND);
    EXPECT_FALSE(key.IsOpen());

    RegistryKey again;
    ASSERT_EQ(cards_.OpenSubkey("", again), REGISTRY_SUCCESS);
    cards_.Close();
    EXPECT_EQ(SubkeyNames(again).size(), 2U) << "a second handle outlives the first";
}

TEST_F(RegistryKeyBufferTest, ClosedKeysAnswerInvalidHandleAndOpenKeysOutliveTheRegistry)
{
    RegistryKey card;
    ASSERT_EQ(cards_.OpenSubkey("FifteenCharName", card), REGISTRY_SUCCESS);
    registry_.reset();
    EXPECT_EQ(ReadString(card, "Text"), "abc");

    card.Close();
    char name[16];
    std::uint32_t chars = sizeof name;
    std::uint32_t size = 0;
    RegistryKey sub;
    EXPECT_EQ(card.EnumKey(0, name, chars), REGISTRY_INVALID_HANDLE);
    EXPECT_EQ(card.QueryValue("Text", nullptr, nullptr, size), REGISTRY_INVALID_HANDLE);
    EXPECT_EQ(card.OpenSubkey("x", sub), REGISTRY_INVALID_HANDLE);
}

// --- the live source, over a sysfs tree made for the test ---

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
