#include "platform/registry/registry.h"
#include "registry_reading.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace tarvik {
namespace {

std::unique_ptr<FileRegistry> ParseOrFail(std::string_view text)
{
    std::string error;
    auto registry = FileRegistry::Parse(text, error);
    EXPECT_NE(registry, nullptr) << error;
    return registry;
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

}  // namespace
}  // namespace tarvik
