// Select BIN File and the two information dialogs: what each box shows, the file-open
// dialog's cancel, unreadable files and silent devices.

#include <QDir>
#include <QLineEdit>
#include <gtest/gtest.h>

#include "desktop/qt/file_open_port.h"
#include "desktop/qt/kelbrin_view.h"
#include "app_harness.h"
#include "commands/outcomes.h"
#include "dialogs/info_dialogs.h"
#include "res/resource_ids.h"

namespace tarvik::testing {
namespace {

std::map<int, QString> Boxes(TemplateDialog& dialog)
{
    std::map<int, QString> shown;
    for (const auto& [box, field] : DescriptorBoxes()) {
        (void)field;
        shown[box] = dialog.Edit(box)->text();
    }
    return shown;
}

class InformationTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(rig.Start(), 0); }

    void SelectBinFile(std::optional<std::string> answer)
    {
        rig.FileOpen.Answers.push_back(std::move(answer));
        rig.Frame().View()->OnSelectBinFile();
        EXPECT_EQ(rig.Port.WaitDepth, 0);
    }

    AppRig rig;
};

TEST_F(InformationTest, SelectedImageShowsItsFieldsAtOnce)
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

    std::map<int, QString> shown;
    QString fileName;
    rig.Runner.Scripts[res::IDD_FILE_INFO] = [&](TemplateDialog& dialog) {
        shown = Boxes(dialog);
        fileName = dialog.Edit(res::IDC_FILE_NAME)->text();
        return QDialog::Accepted;
    };
    SelectBinFile(path);

    EXPECT_EQ(rig.Document().ImagePath, path);
    EXPECT_EQ(fileName.toStdString(), path);
    EXPECT_EQ(shown[res::IDC_CODE_SEGMENT], "1000");
    EXPECT_EQ(shown[res::IDC_CODE_SIZE], "4660");
    EXPECT_EQ(shown[res::IDC_BOARD_CODE], "001122334455");
    for (const auto& [box, field] : DescriptorBoxes()) {
        EXPECT_EQ(shown[box].toStdString(), FormatField(spec.Descriptor, field)) << box;
    }
    EXPECT_EQ(rig.Document().FileDescriptor.CodeSize(), 4660);
}

TEST_F(InformationTest, CancellingTheFileDialogForgetsTheSelectionSilently)
{
    const std::string path = rig.WriteImage("first.bin", SampleImageSpec());
    SelectBinFile(path);
    const ImageDescriptor read = rig.Document().FileDescriptor;

    SelectBinFile(std::nullopt);
    EXPECT_TRUE(rig.Document().ImagePath.empty());
    EXPECT_EQ(rig.Document().FileDescriptor, read);
    EXPECT_TRUE(rig.Port.Messages.empty());
    EXPECT_EQ(rig.Runner.Opened, std::vector<int>{res::IDD_FILE_INFO});
}

TEST_F(InformationTest, FileWithoutHeaderIsReportedAndStaysSelected)
{
    ImageSpec spec = SampleImageSpec();
    spec.HeaderOffset.reset();
    const std::string path = rig.WriteImage("plain.bin", spec);
    SelectBinFile(path);
    EXPECT_EQ(rig.Port.Messages, std::vector<std::string>{std::string(MSG_FILE_ACCESS_ERROR)});
    EXPECT_TRUE(rig.Runner.Opened.empty());
    EXPECT_EQ(rig.Document().ImagePath, path);
}

TEST_F(InformationTest, VeryLongPathIsKeptWhole)
{
    QString directory = rig.Directory.path();
    while (directory.size() < 600) {
        directory += QStringLiteral("/a-rather-long-directory-name-for-firmware-images");
    }
    ASSERT_TRUE(QDir().mkpath(directory));
    const std::string path = (directory + QStringLiteral("/deep.bin")).toStdString();
    WriteImageFile(path, BuildImage(SampleImageSpec()));

    QString fileName;
    rig.Runner.Scripts[res::IDD_FILE_INFO] = [&](TemplateDialog& dialog) {
        fileName = dialog.Edit(res::IDC_FILE_NAME)->text();
        return QDialog::Accepted;
    };
    SelectBinFile(path);
    EXPECT_EQ(rig.Document().ImagePath, path);
    EXPECT_EQ(fileName.toStdString(), path);
    EXPECT_EQ(rig.Document().FileDescriptor, SampleDescriptor());
}

TEST_F(InformationTest, SilentDeviceIsReportedThenShownEmpty)
{
    rig.State().SelectedTarget = "QV0000FF";
    std::map<int, QString> shown;
    rig.Runner.Scripts[res::IDD_DEVICE_INFO] = [&](TemplateDialog& dialog) {
        shown = Boxes(dialog);
        shown[res::IDC_DEVICE_NAME] = dialog.Edit(res::IDC_DEVICE_NAME)->text();
        return QDialog::Accepted;
    };
    DialogContext& context = rig.App().Context();
    RunShowDeviceInformation(context);

    EXPECT_EQ(rig.Log, (EventLog{"message:" + std::string(MSG_ACCESS_TARGET_ERROR), "dialog:135"}));
    for (const auto& [box, text] : shown) {
        EXPECT_TRUE(text.isEmpty()) << box << ": " << text.toStdString();
    }
    EXPECT_EQ(rig.Port.WaitDepth, 0);
}

TEST_F(InformationTest, AnsweringDeviceShowsItsNameAndFields)
{
    rig.State().SelectedTarget = "QV1A2B3C";
    std::map<int, QString> shown;
    QString name;
    rig.Runner.Scripts[res::IDD_DEVICE_INFO] = [&](TemplateDialog& dialog) {
        shown = Boxes(dialog);
        name = dialog.Edit(res::IDC_DEVICE_NAME)->text();
        return QDialog::Accepted;
    };
    RunShowDeviceInformation(rig.App().Context());
    EXPECT_TRUE(rig.Port.Messages.empty());
    EXPECT_EQ(name, "QV1A2B3C");
    const ImageDescriptor device = LabTargetDescriptor({0x00, 0x11, 0x22, 0x33, 0x44, 0x55});
    for (const auto& [box, field] : DescriptorBoxes()) {
        EXPECT_EQ(shown[box].toStdString(), FormatField(device, field)) << box;
    }
}

TEST(ImageFileFilterTest, MatchesTheSuffixInAnyCase)
{
    QTemporaryDir directory;
    for (const char* name : {"a.BIN", "b.bin", "c.Bin", "d.bIN", "e.txt", "f.bin.txt", "gbin"}) {
        QFile file(directory.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const QStringList matched =
        QDir(directory.path())
            .entryList({QString::fromLatin1(IMAGE_FILE_PATTERN)}, QDir::Files, QDir::Name);
    EXPECT_EQ(matched, (QStringList{"a.BIN", "b.bin", "c.Bin", "d.bIN"}));
    EXPECT_TRUE(QString::fromLatin1(IMAGE_FILE_FILTER).startsWith("*.BIN ("));
}

}  // namespace
}  // namespace tarvik::testing
