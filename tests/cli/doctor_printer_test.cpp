// doctor's lines and JSON objects: a bay's carry the bay's name first, the others stay as they
// were.

#include "cli/doctor_printer.h"

#include <gtest/gtest.h>

#include <sstream>

#include "netio/adapter_discovery.h"

namespace tarvik::cli {
namespace {

TEST(DoctorPrinterTest, ABaysLinesAndObjectsNameTheBayFirst)
{
    const DoctorCheck plain{"tva0", "", "carrier", CheckResult::Pass, "carrier", ""};
    EXPECT_EQ(DoctorCheckLine(plain), "tva0    pass  carrier");
    EXPECT_EQ(
        DoctorCheckJson(plain).dump(),
        R"({"interface":"tva0","check":"carrier","result":"pass","detail":"carrier","advice":""})");

    const DoctorCheck bay{"tva0.12",
                          "left",
                          "carrier-changes",
                          CheckResult::Warn,
                          "carrier changes: 3 since the last check",
                          "reseat the cable"};
    EXPECT_EQ(DoctorCheckLine(bay), "left tva0.12      warn  carrier changes: 3 since the last "
                                    "check  ->  reseat the cable");
    EXPECT_EQ(DoctorCheckJson(bay).dump(),
              R"({"bay":"left","interface":"tva0.12","check":"carrier-changes","result":"warn",)"
              R"("detail":"carrier changes: 3 since the last check","advice":"reseat the cable"})");

    ProbeFacts probe;
    probe.OpenResult = DISCOVERY_OK;
    probe.Answers = {{"QV000301", FrameVariantKind::Untyped, FrameVariantKind::Untyped, 2}};
    std::ostringstream out;
    DoctorPrinter printer(out, true);
    printer.Probed("left", "tva0.12", probe);
    printer.Probed("", "tva1", ProbeFacts{DISCOVERY_OPEN_ADAPTER_FAILED, false, false, {}});
    EXPECT_EQ(
        out.str(),
        R"({"bay":"left","interface":"tva0.12","opened":true,"answers":[{"device":"QV000301",)"
        R"("asked":"untyped","answered":"untyped","ms":2}]})"
        "\n"
        R"({"interface":"tva1","opened":false,"answers":[]})"
        "\n");
}

}  // namespace
}  // namespace tarvik::cli
