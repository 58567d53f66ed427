// The accelerator table's key texts: each form the table uses, and the texts it must refuse
// rather than bind to a wrong key.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "res/accelerator_keys.h"
#include "res/shell_resources.h"

namespace tarvik::res {
namespace {

struct Case {
    std::string Keys;
    std::optional<AcceleratorKey> Expected;
};

TEST(AcceleratorKeysTest, EachFormReadsIntoItsModifiersAndKey)
{
    const std::vector<Case> cases = {
        {"Ctrl+O", AcceleratorKey{true, false, false, 'O'}},
        {"Ctrl+N", AcceleratorKey{true, false, false, 'N'}},
        {"Alt+Backspace", AcceleratorKey{false, false, true, VKEY_BACK}},
        {"Shift+Del", AcceleratorKey{false, true, false, VKEY_DELETE}},
        {"Ctrl+Ins", AcceleratorKey{true, false, false, VKEY_INSERT}},
        {"Shift+Ins", AcceleratorKey{false, true, false, VKEY_INSERT}},
        {"F6", AcceleratorKey{false, false, false, 0x75}},
        {"Shift+F6", AcceleratorKey{false, true, false, 0x75}},
        {"F1", AcceleratorKey{false, false, false, 0x70}},
        {"F12", AcceleratorKey{false, false, false, 0x7B}},
        {"Ctrl+Shift+Alt+7", AcceleratorKey{true, true, true, '7'}},
        // A letter's key is its capital: a small one names no key of its own.
        {"Ctrl+o", std::nullopt},
        {"Win+O", std::nullopt},
        {"Ctrl+", std::nullopt},
        {"+O", std::nullopt},
        {"", std::nullopt},
        {"F0", std::nullopt},
        {"F25", std::nullopt},
        {"F6x", std::nullopt},
        {"Delete", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseAcceleratorKeys(c.Keys), c.Expected) << "\"" << c.Keys << "\"";
    }
}

TEST(AcceleratorKeysTest, EveryEntryOfTheTableIsRead)
{
    for (const Accelerator& accelerator : Accelerators()) {
        EXPECT_TRUE(ParseAcceleratorKeys(accelerator.Keys).has_value()) << accelerator.Keys;
    }
}

}  // namespace
}  // namespace tarvik::res
