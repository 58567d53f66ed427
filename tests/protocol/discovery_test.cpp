// Discovery on the virtual segment: passes, variants, the reply filter, names and their order.

#include <algorithm>
#include <random>

#include "protocol_fixture.h"

namespace tarvik::testing {
namespace {

class DiscoveryTest : public ProtocolTest {
protected:
    std::vector<SentFrame> Probes() const
    {
        std::vector<SentFrame> probes;
        for (const auto& frame : sent) {
            if (frame.Header.Destination == BROADCAST_ADDRESS) {
                probes.push_back(frame);
            }
        }
        return probes;
    }
};

TEST_F(DiscoveryTest, NobodyAnsweringRunsTwoPassesAndLeavesTypedFrames)
{
    const std::uint64_t start = kernel.Now();
    std::vector<std::string> names;
    EXPECT_EQ(link.DiscoverTargets(names), 0);
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(run.FrameVariant, FrameVariantKind::Typed);

    const auto probes = Probes();
    ASSERT_EQ(probes.size(), 6u);
    for (std::size_t i = 0; i < probes.size(); ++i) {
        EXPECT_EQ(probes[i].Header.FrameType, i < 3 ? FRAME_TYPE_UNTYPED : FRAME_TYPE_TYPED);
    }
    // Windows close once more than 1980 ms have passed since the tick taken before a probe.
    EXPECT_GT(probes[1].Time - probes[0].Time, 1980u);
    EXPECT_LT(probes[1].Time - probes[0].Time, 2000u);
    const std::uint64_t took = kernel.Now() - start;
    EXPECT_GT(took, 6u * 1980);
    EXPECT_LT(took, 6u * 2000);
}

TEST_F(DiscoveryTest, OneTargetIsListedOnceAndNoTypedProbeGoesOut)
{
    AddTarget(TARGET_A);
    std::vector<std::string> names;
    EXPECT_EQ(link.DiscoverTargets(names), 1);
    EXPECT_EQ(names, std::vector<std::string>{"QV1A2B3C"});
    EXPECT_EQ(run.FrameVariant, FrameVariantKind::Untyped);
    const auto probes = Probes();
    ASSERT_EQ(probes.size(), 3u);
    for (const auto& probe : probes) {
        EXPECT_EQ(probe.Header.FrameType, FRAME_TYPE_UNTYPED);
    }
    EXPECT_EQ(lab.FindTarget(TARGET_A)->Device().RequestsSeen(OP_INFO), 3u);
}

TEST_F(DiscoveryTest, TypedOnlyTargetIsHiddenByAnUntypedOne)
{
    AddTarget(TARGET_B, {FrameVariantKind::Typed});
    AddTarget(TARGET_C, {FrameVariantKind::Untyped});
    std::vector<std::string> names;
    EXPECT_EQ(link.DiscoverTargets(names), 1);
    EXPECT_EQ(names, std::vector<std::string>{"QV000007"});
    EXPECT_EQ(run.FrameVariant, FrameVariantKind::Untyped);
}

TEST_F(DiscoveryTest, TypedOnlyTargetAloneIsFoundInTheSecondPass)
{
    AddTarget(TARGET_B, {FrameVariantKind::Typed});
    std::vector<std::string> names;
    EXPECT_EQ(link.DiscoverTargets(names), 1);
    EXPECT_EQ(names, std::vector<std::string>{"021122334455"});
    EXPECT_EQ(run.FrameVariant, FrameVariantKind::Typed);
}

TEST_F(DiscoveryTest, RepliesThatFailTheFilterArePassedOver)
{
    // One station answers every probe with a set of near-misses, another with a good reply.
    TestStation impostor(lab.Segment(), {0x02, 0x5A, 0x17, 0x99, 0x99, 0x99});
    impostor.SetResponder([](std::span<const std::uint8_t> frame, TestStation& station) {
        const auto probe = DecodeHeader(frame);
        if (!probe || probe->Destination != BROADCAST_ADDRESS) {
            return;
        }
        const std::vector<std::uint8_t> info(56, 0x11);
        std::vector<FrameHeader> bad(8);
        for (auto& header : bad) {
            header.Destination = probe->Source;
            header.Source = station.StationAddress();
            header.DataLength = 56;
        }
        bad[0].DataLength = 55;
        bad[1].DataLength = 57;
        bad[2].Sequence = 1;
        bad[3].Offset = 1;
        bad[4].Segment = 1;
        bad[5].Opcode = OP_BEGIN;
        bad[6].FrameType = probe->FrameType == FRAME_TYPE_TYPED ? FRAME_TYPE_UNTYPED
                                                                : FRAME_TYPE_TYPED;
        for (std::size_t i = 0; i < 7; ++i) {
            station.Send(MakeReply(bad[i], info));
        }
        // Claims 56 bytes of data but holds fewer: judged by what arrived, not by the header.
        station.Send(MakeReply(bad[7], std::span(info).first(20)));
    });
    std::vector<std::string> names;
    EXPECT_EQ(link.DiscoverTargets(names), 0);

    AddTarget(TARGET_A);
    EXPECT_EQ(link.DiscoverTargets(names), 1);
    EXPECT_EQ(names, std::vector<std::string>{"QV1A2B3C"});
}

TEST_F(DiscoveryTest, OwnProbeSeenOnTheWireIsNotATarget)
{
    // A station that echoes every probe back, as an adapter that hears itself would.
    TestStation mirror(lab.Segment(), {0x02, 0x00, 0x00, 0x00, 0x00, 0x01});
    mirror.SetResponder([](std::span<const std::uint8_t> frame, TestStation& station) {
        if (frame.size() >= 6 &&
            std::equal(BROADCAST_ADDRESS.begin(), BROADCAST_ADDRESS.end(), frame.begin())) {
            std::vector<std::uint8_t> echo(frame.begin(), frame.end());
            std::copy(LAB_ADAPTER_ADDRESS.begin(), LAB_ADAPTER_ADDRESS.end(), echo.begin());
            station.Send(echo);
        }
    });
    std::vector<std::string> names;
    EXPECT_EQ(link.DiscoverTargets(names), 0);
}

TEST_F(DiscoveryTest, ProbeThatCannotGoOutFailsDiscovery)
{
    lab.Driver().FailSends(true);
    std::vector<std::string> names;
    EXPECT_EQ(link.DiscoverTargets(names), DISCOVERY_FAILED);
    ResponderList list;
    EXPECT_EQ(link.CollectResponders(list), COLLECT_PROBE_FAILED);
}

TEST_F(DiscoveryTest, ManyTargetsAreAllReturnedSorted)
{
    std::mt19937 random(5);
    for (int i = 0; i < 100; ++i) {
        MacAddress address = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x00};
        if (i % 3 == 0) {
            address[1] = 0x11;
        }
        address[3] = static_cast<std::uint8_t>(random());
        address[4] = static_cast<std::uint8_t>(i);
        address[5] = static_cast<std::uint8_t>(random());
        AddTarget(address);
    }
    std::vector<std::string> names;
    EXPECT_EQ(link.DiscoverTargets(names), 100);
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
}

// --- the one probe-and-listen that discovery, the station and doctor share ---

TEST_F(DiscoveryTest, ARoundProbesEachVariantBackToBackAndHandsUpTheAcceptedReplies)
{
    AddTarget(TARGET_A);                             // answers in both frame types
    AddTarget(TARGET_B, {FrameVariantKind::Typed});  // in typed frames only
    std::vector<DiscoveryReply> replies;
    const std::uint64_t start = kernel.Now();
    const ProbeRound round{{FrameVariantKind::Untyped, FrameVariantKind::Typed},
                           1000,
                           {FrameVariantKind::Untyped, FrameVariantKind::Typed}};
    EXPECT_EQ(link.ProbeAndListen(round,
                                  [&](const DiscoveryReply& reply) { replies.push_back(reply); }),
              COLLECT_DONE);
    EXPECT_EQ(run.FrameVariant, FrameVariantKind::Untyped) << "the run's variant is left alone";
    const auto probes = Probes();
    ASSERT_EQ(probes.size(), 2u);
    EXPECT_EQ(probes[0].Header.FrameType, FRAME_TYPE_UNTYPED);
    EXPECT_EQ(probes[1].Header.FrameType, FRAME_TYPE_TYPED);
    EXPECT_EQ(probes[1].Time - probes[0].Time, SEND_PAUSE_MS);
    EXPECT_GT(kernel.Now() - start, 1000u);
    EXPECT_LT(kernel.Now() - start, 1000u + 2 * RECEIVE_WAIT_MS);

    ASSERT_EQ(replies.size(), 3u);
    std::size_t fromA = 0;
    for (const DiscoveryReply& reply : replies) {
        EXPECT_GT(reply.AfterMs, 0u);
        EXPECT_LE(reply.AfterMs, 1000u);
        if (reply.Source == TARGET_A) {
            ++fromA;
            EXPECT_EQ(reply.Descriptor.Bytes,
                      LabTargetDescriptor({0x00, 0x11, 0x22, 0x33, 0x44, 0x55}).Bytes);
        } else {
            EXPECT_EQ(reply.Source, TARGET_B);
            EXPECT_EQ(reply.Variant, FrameVariantKind::Typed);
        }
    }
    EXPECT_EQ(fromA, 2u);
}

TEST_F(DiscoveryTest, ARoundTakesOnlyTheAcceptedVariantsAndEndsWhenStopped)
{
    AddTarget(TARGET_A);
    std::vector<FrameVariantKind> heard;
    const ProbeRound round{
        {FrameVariantKind::Untyped, FrameVariantKind::Typed}, 5000, {FrameVariantKind::Typed}};
    const std::uint64_t start = kernel.Now();
    EXPECT_EQ(link.ProbeAndListen(
                  round, [&](const DiscoveryReply& reply) { heard.push_back(reply.Variant); },
                  [&] { return kernel.Now() - start >= 300; }),
              COLLECT_DONE);
    EXPECT_EQ(heard, std::vector<FrameVariantKind>{FrameVariantKind::Typed});
    EXPECT_LT(kernel.Now() - start, 300u + 2 * RECEIVE_WAIT_MS);

    lab.Driver().FailSends(true);
    heard.clear();
    EXPECT_EQ(link.ProbeAndListen(
                  round, [&](const DiscoveryReply& reply) { heard.push_back(reply.Variant); }),
              COLLECT_PROBE_FAILED);
    EXPECT_TRUE(heard.empty());
    EXPECT_EQ(run.FrameVariant, FrameVariantKind::Untyped);
}

class DiscoveryAcrossWrapTest : public ProtocolTest {
protected:
    DiscoveryAcrossWrapTest() : ProtocolTest(0xFFFFFFFFu - 100) {}
};

TEST_F(DiscoveryAcrossWrapTest, WindowSpanningTheWrapKeepsItsLength)
{
    AddTarget(TARGET_A);
    const std::uint64_t start = kernel.Now();
    std::vector<std::string> names;
    EXPECT_EQ(link.DiscoverTargets(names), 1);
    EXPECT_GT(kernel.Now() - start, 3u * 1980);
    ASSERT_GE(sent.size(), 2u);
    EXPECT_GT(sent[1].Time - sent[0].Time, 1980u);
}

class TimerTest : public ProtocolTest {
protected:
    TimerTest() : ProtocolTest(0xFFFFFF00u) {}
};

TEST_F(TimerTest, ExpiresStrictlyAfterTheUnitsInNinetyNineHundredthsOfASecond)
{
    const std::uint32_t start = kernel.GetTickCount();
    kernel.Advance(1980);
    EXPECT_FALSE(link.TimerExpired(start, 2));
    kernel.Advance(1);
    EXPECT_TRUE(link.TimerExpired(start, 2));
    EXPECT_TRUE(link.TimerExpired(start, 1));
}

TEST_F(TimerTest, TickCountWrapMeasuresTheModularDifference)
{
    const std::uint32_t start = kernel.GetTickCount();  // 256 ms before the wrap
    kernel.Advance(512);
    ASSERT_LT(kernel.GetTickCount(), start);  // 256 ms after it
    EXPECT_FALSE(link.TimerExpired(start, 1));
    kernel.Advance(990 - 512);
    EXPECT_FALSE(link.TimerExpired(start, 1));
    kernel.Advance(1);
    EXPECT_TRUE(link.TimerExpired(start, 1));
}

TEST(DeviceNameTest, VendorAddressesAreShortened)
{
    EXPECT_EQ(FormatDeviceName({0x02, 0x5A, 0x17, 0x1A, 0x2B, 0x3C}), "QV1A2B3C");
    EXPECT_EQ(FormatDeviceName({0x02, 0x11, 0x22, 0x33, 0x44, 0x55}), "021122334455");
    EXPECT_EQ(FormatDeviceName({0x02, 0x5A, 0x18, 0x00, 0x00, 0x01}), "025A18000001");
}

TEST(DeviceNameTest, ParsingInvertsFormatting)
{
    std::mt19937 random(3);
    for (int i = 0; i < 200; ++i) {
        MacAddress address;
        for (auto& byte : address) {
            byte = static_cast<std::uint8_t>(random());
        }
        if (i % 2 == 0) {
            std::copy_n(VENDOR_OUI.begin(), 3, address.begin());
        }
        EXPECT_EQ(ParseDeviceName(FormatDeviceName(address)), address);
        EXPECT_TRUE(IsDeviceName(FormatDeviceName(address))) << FormatDeviceName(address);
    }
}

// Only the two forms browse prints name a device; ParseDeviceName would make some address of
// anything else.
TEST(DeviceNameTest, ADeviceNameIsThePrefixAndSixDigitsOrTwelveDigits)
{
    for (const char* name : {"QV1A2B3C", "QV1a2b3c", "QV000000", "021122aabbcc", "025A18000001"}) {
        EXPECT_TRUE(IsDeviceName(name)) << name;
    }
    for (const char* name :
         {"QV1A2B3CX", "QV1A2B3", "qv1a2b3c", "QV1G2B3C", "Q1A2B3C", "QV", "QV021122334455",
          "02112233445", "0211223344556", "02112233445G", "1A2B3C", ""}) {
        EXPECT_FALSE(IsDeviceName(name)) << name;
    }
}

TEST(DeviceNameTest, PrefixIsCaseSensitiveButDigitsAreNot)
{
    EXPECT_EQ(ParseDeviceName("QV1a2b3c"), (MacAddress{0x02, 0x5A, 0x17, 0x1A, 0x2B, 0x3C}));
    // "qv" is no prefix: 12 characters are read, q and v being invalid digits.
    EXPECT_EQ(ParseDeviceName("qv1a2b3c"), (MacAddress{0xFF, 0x1A, 0x2B, 0x3C, 0xFF, 0xFF}));
}

TEST(DeviceNameTest, InvalidDigitsFollowTheNibbleRule)
{
    EXPECT_EQ(ParseDeviceName("QVG12B3C"), (MacAddress{0x02, 0x5A, 0x17, 0xF1, 0x2B, 0x3C}));
    EXPECT_EQ(ParseDeviceName("QV1G2B3C"), (MacAddress{0x02, 0x5A, 0x17, 0xFF, 0x2B, 0x3C}));
    EXPECT_EQ(ParseDeviceName("QV1A2B"), (MacAddress{0x02, 0x5A, 0x17, 0x1A, 0x2B, 0xFF}));
    EXPECT_EQ(ParseDeviceName(""), (MacAddress{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(SortDeviceNamesTest, OrdersBytewiseWithDigitsBeforeVendorNames)
{
    std::vector<std::string> names = {"021122334455", "QV000001", "021122000001"};
    EXPECT_EQ(SortDeviceNames(names), 0);
    EXPECT_EQ(names, (std::vector<std::string>{"021122000001", "021122334455", "QV000001"}));

    std::vector<std::string> none;
    EXPECT_EQ(SortDeviceNames(none), -1);

    std::vector<std::string> prefixed = {"QV0000011", "QV000001"};
    SortDeviceNames(prefixed);
    EXPECT_EQ(prefixed.front(), "QV000001");
}

TEST(SortDeviceNamesTest, AgreesWithAReferenceSortForEveryLength)
{
    std::mt19937 random(11);
    for (std::size_t n = 1; n <= 70; ++n) {
        std::vector<std::string> names;
        for (std::size_t i = 0; i < n; ++i) {
            MacAddress address;
            for (auto& byte : address) {
                byte = static_cast<std::uint8_t>(random() % 4);
            }
            if (random() % 2 == 0) {
                std::copy_n(VENDOR_OUI.begin(), 3, address.begin());
            }
            names.push_back(FormatDeviceName(address));
        }
        auto expected = names;
        std::sort(expected.begin(), expected.end());
        SortDeviceNames(names);
        EXPECT_EQ(names, expected) << "n = " << n;
    }
}

}  // namespace
}  // namespace tarvik::testing
