// The trust check on the lab: a signature made here with a key of the test's own, the refusals
// that need no device, what the signed list refuses, and the image replaced on disk after the
// check, which reaches no device.

#include <gtest/gtest.h>

#include "commands/command_line_flows.h"
#include "commands/image_trust.h"
#include "commands/several_devices.h"
#include "image/minisign.h"
#include "protocol/upgrade_link.h"
#include "support/lab_rig.h"
#include "support/minisign_signer.h"

namespace tarvik::testing {
namespace {

constexpr char KEY[] = "/keys/release.pub";
constexpr char SIGNATURE[] = "/images/fw.bin.minisig";
constexpr MacAddress FIRST = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x01};
constexpr MacAddress SECOND = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x02};
constexpr std::uint32_t IMAGE_ADDRESS = 0x1000 * 16;  // the sample image's code segment

std::vector<std::uint8_t> Bytes(std::string_view text)
{
    return {text.begin(), text.end()};
}

class ImageTrustTest : public ::testing::Test, protected LabRig {
protected:
    ImageTrustTest()
    {
        AddDevice(FIRST);
        AddDevice(SECOND);
        files.Add(KEY, Bytes(signer.PublicKeyFile()));
    }

    // Signs the image at RIG_IMAGE (the rig's own unless a test put another there) and checks it.
    ImageTrust Check(const std::string& comment = "timestamp:1\tfile:fw.bin\thashed")
    {
        files.Add(SIGNATURE, Bytes(signer.Sign(image, comment)));
        TrustSettings settings;
        settings.KeyFiles = {KEY};
        return CheckImageTrust(files, RIG_IMAGE, settings);
    }

    std::vector<DeviceRunReport> UpgradeBoth(const ImageTrust& trust)
    {
        RunEnvironment& opened = Environment();
        opened.UseVerifiedImage(RIG_IMAGE, trust.Bytes, trust.Use);
        struct Watcher final : DeviceRunWatcher {
            MessagePort ports[2];
            NoProgress progress[2];
            CommandPort& PortFor(std::size_t device) override { return ports[device]; }
            ProgressDisplay& ProgressFor(std::size_t device) override { return progress[device]; }
            void RunStarts(std::size_t, const std::string&, const std::string&) override {}
            void RunEnds(std::size_t, const DeviceRunReport&) override {}
        } watcher;
        SeveralDevicesRequest request;
        request.DeviceNames = {"QV000001", "QV000002"};
        request.ImagePath = RIG_IMAGE;
        return UpgradeSeveralDevices(opened, request, watcher, {});
    }

    Signer signer;
    std::vector<std::uint8_t> image = RigImage();
};

TEST_F(ImageTrustTest, AVerifiedImageReplacedOnDiskAfterTheCheckReachesNoDevice)
{
    const ImageTrust trust = Check();
    ASSERT_EQ(trust.State, SignatureState::Verified) << trust.Why;
    // Another image under the same name, written after the check and before the first frame.
    std::vector<std::uint8_t> swapped = RigImage();
    std::fill(swapped.begin() + 200, swapped.end(), 0xEE);
    files.Add(RIG_IMAGE, swapped);

    for (const DeviceRunReport& report : UpgradeBoth(trust)) {
        EXPECT_EQ(report.Outcome, UpgradeOutcome::Finished) << report.DeviceName;
    }
    for (const MacAddress& device : {FIRST, SECOND}) {
        EXPECT_EQ(lab.FindTarget(device)->Device().MemoryAt(IMAGE_ADDRESS, RIG_IMAGE_BYTES),
                  RigImage())
            << "a device received bytes that were never verified";
    }
}

TEST_F(ImageTrustTest, TheSignedListRefusesOtherBoardsAndRollbacksAtTheCheck)
{
    RunEnvironment& opened = Environment(RunSharing::OneRun);
    const auto outcome = [&](const std::string& comment) {
        const ImageTrust trust = Check(comment);
        EXPECT_EQ(trust.State, SignatureState::Verified) << comment << ": " << trust.Why;
        opened.UseVerifiedImage(RIG_IMAGE, trust.Bytes, trust.Use);
        return RunCheckCommand(opened.State(), port, "QV000001", RIG_IMAGE);
    };
    // The lab's devices run firmware 0102 on board 001122334455; the rig's image is 0103.
    EXPECT_EQ(outcome("tarvik boards=AABBCCDDEEFF"), UpgradeOutcome::BoardNotSigned);
    EXPECT_EQ(outcome("tarvik boards=aabbccddeeff,001122334455"), UpgradeOutcome::Finished);
    EXPECT_EQ(outcome("tarvik boards=001122334455 version=0103"), UpgradeOutcome::Finished);
    EXPECT_EQ(outcome("timestamp:1 file:fw.bin"), UpgradeOutcome::Finished) << "no list";

    // An older image: refused unless its list allows the rollback.
    ImageSpec older = SampleImageSpec();
    older.Size = RIG_IMAGE_BYTES;
    older.HeaderOffset = 0;
    older.Descriptor.Bytes[DESC_FW_VERSION + 1] = 0x01;
    image = BuildImage(older);
    files.Add(RIG_IMAGE, image);
    EXPECT_EQ(outcome("tarvik boards=001122334455 version=0101"), UpgradeOutcome::RollbackRefused);
    EXPECT_EQ(port.Messages.back(), "Rollback Not Allowed !");
    EXPECT_EQ(outcome("tarvik boards=001122334455 version=0101 rollback=yes"),
              UpgradeOutcome::Finished);

    // A version that is not the image's own would mislead the rollback check: the list is
    // refused before any device is asked.
    const ImageTrust misleading = Check("tarvik boards=001122334455 version=0103");
    EXPECT_EQ(misleading.Ending, UpgradeOutcome::SignatureFormatError);
    EXPECT_NE(misleading.Why.find("version 0103, the image's own is 0101"), std::string::npos)
        << misleading.Why;
}

// A file whose size, when the check asks for it, is not what it then reads: it grew or was
// cut short between the two. Every other path is the rig's.
class ResizedFileSystem final : public FileSystem {
public:
    ResizedFileSystem(FileSystem& rest, std::vector<std::uint8_t> bytes, std::int64_t declared)
        : rest_(rest), bytes_(std::move(bytes)), declared_(declared)
    {
    }
    std::unique_ptr<ReadOnlyFile> OpenForReading(const std::string& path) override
    {
        if (path != RIG_IMAGE) {
            return rest_.OpenForReading(path);
        }
        struct File final : ReadOnlyFile {
            const std::vector<std::uint8_t>& bytes;
            std::int64_t declared;
            std::size_t at = 0;
            File(const std::vector<std::uint8_t>& b, std::int64_t d) : bytes(b), declared(d) {}
            bool Seek(std::uint64_t offset) override
            {
                at = static_cast<std::size_t>(offset);
                return true;
            }
            std::int64_t SeekEnd() override { return declared; }
            std::int64_t Read(std::uint8_t* buffer, std::size_t size) override
            {
                const std::size_t count = std::min(size, bytes.size() - std::min(at, bytes.size()));
                std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), count, buffer);
                at += count;
                return static_cast<std::int64_t>(count);
            }
        };
        return std::make_unique<File>(bytes_, declared_);
    }

private:
    FileSystem& rest_;
    std::vector<std::uint8_t> bytes_;
    std::int64_t declared_;
};

TEST_F(ImageTrustTest, AFileThatGrowsOrShrinksWhileReadIsCheckedAndKeptAsRead)
{
    std::vector<std::uint8_t> changing(600 << 10);
    for (std::size_t at = 0; at < changing.size(); ++at) {
        changing[at] = static_cast<std::uint8_t>(at * 131 + at / 977);
    }
    files.Add(SIGNATURE, Bytes(signer.Sign(changing, "timestamp:1")));
    TrustSettings settings;
    settings.KeyFiles = {KEY};
    for (const std::int64_t declared : {std::int64_t{100} << 10, std::int64_t{900} << 10}) {
        ResizedFileSystem resized(files, changing, declared);
        const ImageTrust trust = CheckImageTrust(resized, RIG_IMAGE, settings);
        ASSERT_EQ(trust.State, SignatureState::Verified) << declared << ": " << trust.Why;
        ASSERT_TRUE(trust.Bytes);
        EXPECT_TRUE(std::equal(trust.Bytes->begin(), trust.Bytes->end(), changing.begin(),
                               changing.end()))
            << "declared " << declared << ": kept " << trust.Bytes->size() << " bytes";
    }
    // What it read is what it checked: a signature over the size first seen does not match.
    files.Add(SIGNATURE,
              Bytes(signer.Sign(std::span(changing).first(100 << 10), "timestamp:1")));
    ResizedFileSystem grown(files, changing, 100 << 10);
    EXPECT_EQ(CheckImageTrust(grown, RIG_IMAGE, settings).Ending,
              UpgradeOutcome::SignatureMismatch);
}

TEST_F(ImageTrustTest, EachRefusalBeforeTheFirstFrameHasItsEnding)
{
    EXPECT_EQ(Check().State, SignatureState::Verified);

    TrustSettings settings;
    settings.KeyFiles = {KEY};
    files.Add("/images/other.bin", RigImage());
    EXPECT_EQ(CheckImageTrust(files, "/images/other.bin", settings).Ending,
              UpgradeOutcome::SignatureNotFound);

    Signer stranger;
    files.Add(SIGNATURE, Bytes(stranger.Sign(RigImage(), "x")));
    const ImageTrust untrusted = CheckImageTrust(files, RIG_IMAGE, settings);
    EXPECT_EQ(untrusted.Ending, UpgradeOutcome::UntrustedSignature);
    EXPECT_EQ(untrusted.State, SignatureState::Refused);

    settings.Mode = SignatureMode::Warn;
    EXPECT_EQ(CheckImageTrust(files, RIG_IMAGE, settings).State, SignatureState::Warned);
    settings.Mode = SignatureMode::Off;
    EXPECT_EQ(CheckImageTrust(files, RIG_IMAGE, settings).State, SignatureState::NotChecked);
    settings.Mode.reset();

    std::string signature = signer.Sign(RigImage(), "timestamp:1");
    signature.replace(signature.find("timestamp:1"), 11, "timestamp:2");
    files.Add(SIGNATURE, Bytes(signature));
    EXPECT_EQ(CheckImageTrust(files, RIG_IMAGE, settings).Ending,
              UpgradeOutcome::SignatureMismatch);

    files.Add(SIGNATURE, Bytes("untrusted comment: x\nRUQ=\ntrusted comment: y\nAAAA\n"));
    EXPECT_EQ(CheckImageTrust(files, RIG_IMAGE, settings).Ending,
              UpgradeOutcome::SignatureFormatError);

    // A key file that cannot be read still closes the door: nothing unsigned goes out.
    settings.KeyFiles = {"/keys/missing.pub"};
    const ImageTrust noKey = CheckImageTrust(files, RIG_IMAGE, settings);
    EXPECT_EQ(noKey.State, SignatureState::Refused);
    EXPECT_FALSE(noKey.Notes.empty());
}

}  // namespace
}  // namespace tarvik::testing
