// The in-memory extended dialog template, word for word: the About box's template as the
// dialog manager reads it (header, caption, font, then each item DWORD-aligned with its
// styles, rectangle, id, class ordinal and text or icon ordinal).

#include "dialogs/win32/win32_api.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "dialogs/win32/dialog_template_ex.h"
#include "res/resource_ids.h"

namespace tarvik {
namespace {

class Words {
public:
    Words& operator()(std::initializer_list<std::uint16_t> values)
    {
        words_.insert(words_.end(), values);
        return *this;
    }
    // A text and its terminating zero.
    Words& operator()(std::u16string_view text)
    {
        words_.insert(words_.end(), text.begin(), text.end());
        words_.push_back(0);
        return *this;
    }
    std::vector<std::uint16_t> Take() { return std::move(words_); }

private:
    std::vector<std::uint16_t> words_;
};

TEST(DialogTemplateExTest, TheAboutBoxWordForWord)
{
    const res::DialogTemplate* about = res::FindDialogTemplate(res::IDD_ABOUTBOX);
    ASSERT_NE(about, nullptr);
    Words expected;
    // dlgVer 1, the extended signature, helpID, exStyle; style: WS_POPUP | WS_CAPTION |
    // WS_SYSMENU | DS_MODALFRAME | DS_SETFONT, not visible.
    expected({0x0001, 0xFFFF, 0, 0, 0, 0, 0x00C0, 0x80C8});
    // Three items at 0,0, 217 x 55 units, no menu, the dialog class.
    expected({3, 0, 0, 217, 55, 0, 0})(u"About Tarvik");
    // 8 points, FW_NORMAL, not italic and the default character set.
    expected({8, 400, 0})(u"MS Sans Serif");
    expected({0});  // 45 words so far: the first item starts on a DWORD
    // The icon: WS_CHILD | WS_VISIBLE | SS_ICON, id -1, class Static, the program's icon.
    expected({0, 0, 0, 0, 0x0003, 0x5000, 11, 17, 20, 20, 0xFFFF, 0xFFFF, 0xFFFF, 0x0082});
    expected({0xFFFF, 128, 0});
    expected({0});  // 17 words: aligned again
    // The version: SS_LEFT | SS_NOPREFIX.
    expected({0, 0, 0, 0, 0x0080, 0x5000, 40, 10, 119, 8, 0xFFFF, 0xFFFF, 0xFFFF, 0x0082});
    expected(u"Tarvik Version 1.03.002")({0});
    // 14 + 24 + 1 = 39 words: aligned. OK: BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, id 1.
    expected({0});
    expected({0, 0, 0, 0, 0x0001, 0x5003, 178, 7, 32, 14, 1, 0, 0xFFFF, 0x0080})(u"OK")({0});

    EXPECT_EQ(BuildDialogTemplateEx(*about), expected.Take());
}

TEST(DialogTemplateExTest, ProgressBarIsNamedByItsClassAndTheWindowIsMadeHidden)
{
    const res::DialogTemplate* process = res::FindDialogTemplate(res::IDD_UPGRADE_PROCESS);
    ASSERT_NE(process, nullptr);
    // Shown by the program once its texts are in, whatever the template says.
    EXPECT_EQ(Win32DialogStyle(*process) & WS_VISIBLE, 0U);
    EXPECT_NE(Win32DialogStyle(*process) & DS_SETFOREGROUND, 0U);
    const std::vector<std::uint16_t> words = BuildDialogTemplateEx(*process);
    const std::u16string_view className = u"msctls_progress32";
    const auto found = std::search(words.begin(), words.end(), className.begin(), className.end());
    EXPECT_NE(found, words.end());
}

}  // namespace
}  // namespace tarvik
