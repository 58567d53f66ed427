// Select BIN File and the two information dialogs under whichever renderer the tests are built
// with: what each box shows, the file-open dialog's cancel, unreadable files, long paths and
// silent devices.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "commands/outcomes.h"
#include "dialogs/dialog_rig.h"
#include "dialogs/info_dialogs.h"
#include "res/resource_ids.h"

namespace tarvik::testing {
namespace {

std::map<int, std::string> Boxes(const CDialog& dialog)
{
    std::map<int, std::string> shown;
    for (const auto& [box, field] : DescriptorBoxes()) {
        (void)field;
        shown[box] = dialog.ItemText(box);
    }
    return shown;
}

class InformationFlowTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(rig.Start(), 0); }
    DialogRig rig;
};

TEST_F(InformationFlowTest, SelectedImageShowsEveryFieldInItsDisplayForm)
{
    ImageSpec spec = SampleImageSpec();
    auto& bytes = spec.Descriptor.Bytes;
    bytes[DESC_CODE_SEGMENT] = 0x00;
    bytes[DESC_CODE_SEGMENT + 1] = 0x10;
    bytes[DESC_CODE_SIZE] = 0x34;
    bytes[DESC_CODE_SIZE + 1] = 0x12;
    const std::uint8_t board[] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    std::copy(std::begin(board), std::end(board), bytes.begin() + DESC_BOARD_CODE);
    const std::string path = rig.WriteImage("fields.BIN", spec);

    std::map<int, std::string> shown;
    std::string fileName;
    rig.Runner.Scripts[res::IDD_FILE_INFO] = [&](CDialog& dialog) {
        shown = Boxes(dialog);
        fileName = dialog.ItemText(res::IDC_FILE_NAME);
        return res::IDOK;
    };
    RunSelectBinFile(*rig.Context, path);

    EXPECT_EQ(rig.Document.ImagePath, path);
    EXPECT_EQ(fileName, path);
    EXPECT_EQ(shown[res::IDC_CODE_SEGMENT], "1000");
    EXPECT_EQ(shown[res::IDC_CODE_SIZE], "4660");
    EXPECT_EQ(shown[res::IDC_BOARD_CODE], "001122334455");
    for (const auto& [box, field] : DescriptorBoxes()) {
        EXPECT_EQ(shown[box], FormatField(spec.Descriptor, field)) << box;
    }
    EXPECT_EQ(rig.Port.WaitDepth, 0);
}

TEST_F(InformationFlowTest, CancellingTheFileDialogForgetsTheFileSilentlyButNotItsDescriptor)
{
    rig.Runner.Scripts[res::IDD_FILE_INFO] = [](CDialog& /*dialog*/) { return res::IDOK; };
    RunSelectBinFile(*rig.Context, rig.WriteImage("first.bin", SampleImageSpec()));
    const ImageDescriptor read = rig.Document.FileDescriptor;

    RunSelectBinFile(*rig.Context, std::nullopt);
    EXPECT_TRUE(rig.Document.ImagePath.empty());
    EXPECT_EQ(rig.Document.FileDescriptor, read);
    EXPECT_TRUE(rig.Port.Messages.empty());
    EXPECT_EQ(rig.Runner.Opened, std::vector<int>{res::IDD_FILE_INFO});
}

TEST_F(InformationFlowTest, FileWithoutHeaderIsReportedAndStaysSelected)
{
    ImageSpec spec = SampleImageSpec();
    spec.HeaderOffset.reset();
    const std::string path = rig.WriteImage("plain.bin", spec);
    RunSelectBinFile(*rig.Context, path);
    EXPECT_EQ(rig.Port.Messages, std::vector<std::string>{std::string(MSG_FILE_ACCESS_ERROR)});
    EXPECT_TRUE(rig.Runner.Opened.empty());
    EXPECT_EQ(rig.Document.ImagePath, path);
    EXPECT_EQ(rig.Port.WaitDepth, 0);
}

TEST_F(InformationFlowTest, VeryLongPathIsKeptWhole)
{
    std::filesystem::path directory = rig.WriteImage("short.bin", SampleImageSpec());
    directory = directory.parent_path();
    while (directory.string().size() < 600) {
        directory /= "a-rather-long-directory-name-for-firmware-images";
    }
    std::filesystem::create_directories(directory);
    const std::string path = (directory / "deep.bin").string();
    WriteImageFile(path, BuildImage(SampleImageSpec()));

    std::string fileName;
    rig.Runner.Scripts[res::IDD_FILE_INFO] = [&](CDialog& dialog) {
        fileName = dialog.ItemText(res::IDC_FILE_NAME);
        return res::IDOK;
    };
    RunSelectBinFile(*rig.Context, path);
    EXPECT_EQ(rig.Document.ImagePath, path);
    EXPECT_EQ(fileName, path);
    EXPECT_EQ(rig.Document.FileDescriptor, SampleDescriptor());
}

TEST_F(InformationFlowTest, SilentDeviceIsReportedThenShownEmpty)
{
    rig.Network->State().SelectedTarget = "QV0000FF";
    std::map<int, std::string> shown;
    std::vector<std::string> messagesBefore;
    rig.Runner.Scripts[res::IDD_DEVICE_INFO] = [&](CDialog& dialog) {
        messagesBefore = rig.Port.Messages;
        shown = Boxes(dialog);
        shown[res::IDC_DEVICE_NAME] = dialog.ItemText(res::IDC_DEVICE_NAME);
        return res::IDOK;
    };
    RunShowDeviceInformation(*rig.Context);
    EXPECT_EQ(messagesBefore, std::vector<std::string>{std::string(MSG_ACCESS_TARGET_ERROR)});
    EXPECT_EQ(rig.Runner.Opened, std::vector<int>{res::IDD_DEVICE_INFO});
    for (const auto& [box, text] : shown) {
        EXPECT_TRUE(text.empty()) << box << ": " << text;
    }
    EXPECT_EQ(rig.Port.WaitDepth, 0);
}

TEST_F(InformationFlowTest, AnsweringDeviceShowsItsNameAndFields)
{
    rig.Network->State().SelectedTarget = "QV1A2B3C";
    std::map<int, std::string> shown;
    std::string name;
    rig.Runner.Scripts[res::IDD_DEVICE_INFO] = [&](CDialog& dialog) {
        shown = Boxes(dialog);
        name = dialog.ItemText(res::IDC_DEVICE_NAME);
        return res::IDOK;
    };
    RunShowDeviceInformation(*rig.Context);
    EXPECT_TRUE(rig.Port.Messages.empty());
    EXPECT_EQ(name, "QV1A2B3C");
    const ImageDescriptor device = LabTargetDescriptor({0x00, 0x11, 0x22, 0x33, 0x44, 0x55});
    for (const auto& [box, field] : DescriptorBoxes()) {
        EXPECT_EQ(shown[box], FormatField(device, field)) << box;
    }
}

}  // namespace
}  // namespace tarvik::testing
