// doctor's live probe on the lab's segment: one probe in each frame type, each device's answer
// in the type it came in, and the adapter closed again afterwards.

#include <gtest/gtest.h>

#include "commands/doctor.h"
#include "netio/binding.h"
#include "protocol/run_state.h"
#include "protocol/upgrade_link.h"
#include "support/lab_rig.h"

namespace tarvik::testing {
namespace {

constexpr MacAddress BOTH = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x01};
constexpr MacAddress TYPED_ONLY = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x02};

class DoctorProbeTest : public ::testing::Test, protected LabRig {
protected:
    Binding binding{kernel, lab.Driver()};
    RunState run{binding, files};
};

TEST_F(DoctorProbeTest, EachFrameTypesProbeAndWhoAnsweredIt)
{
    AddDevice(BOTH);
    AddDevice(TYPED_ONLY, RIG_BOARD, {FrameVariantKind::Typed});
    const ProbeFacts facts = ProbeAdapter(run, std::string(LAB_ADAPTER_NAME));
    EXPECT_EQ(facts.OpenResult, DISCOVERY_OK);
    EXPECT_TRUE(facts.UntypedSent);
    EXPECT_TRUE(facts.TypedSent);
    std::vector<std::string> answers;
    for (const ProbeAnswer& answer : facts.Answers) {
        answers.push_back(answer.DeviceName + " " + std::string(FrameVariantName(answer.Asked)) +
                          " " + std::string(FrameVariantName(answer.Answered)));
        EXPECT_LT(answer.ReplyMs, TIMER_UNIT_MS * PROBE_WINDOW_UNITS);
    }
    std::sort(answers.begin(), answers.end());
    EXPECT_EQ(answers, (std::vector<std::string>{"QV000001 typed typed", "QV000001 untyped untyped",
                                                 "QV000002 typed typed"}));
    EXPECT_EQ(binding.AdapterHandle, INVALID_ADAPTER) << "the adapter is closed after the probe";
    EXPECT_EQ(binding.SendPause(), SEND_PAUSE_MS) << "the pause is given back";
    EXPECT_EQ(run.FrameVariant, FrameVariantKind::Untyped);
}

TEST_F(DoctorProbeTest, ProbesThatCannotGoOutAreSaidAndNothingIsHeard)
{
    AddDevice(BOTH);
    lab.Driver().FailSends(true);
    const ProbeFacts facts = ProbeAdapter(run, std::string(LAB_ADAPTER_NAME));
    EXPECT_EQ(facts.OpenResult, DISCOVERY_OK);
    EXPECT_FALSE(facts.UntypedSent);
    EXPECT_FALSE(facts.TypedSent);
    EXPECT_TRUE(facts.Answers.empty());

    const ProbeFacts unknown = ProbeAdapter(run, "\\Device\\nothing");
    EXPECT_EQ(unknown.OpenResult, DISCOVERY_OPEN_ADAPTER_FAILED);
    EXPECT_TRUE(unknown.Answers.empty());
}

}  // namespace
}  // namespace tarvik::testing
