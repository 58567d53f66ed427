// Each system's remedies: filled from the facts, and in the words of the system they are for
// (no sudo or ip link on Windows, where a user has adapter settings, netsh, "Run as
// administrator" and Npcap's installer).

#include "platform/host/doctor_remedies.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace tarvik {
namespace {

TEST(DoctorRemediesTest, FieldsAreFilledWhereverTheyStand)
{
    EXPECT_EQ(RemedyText(LINUX_REMEDIES, Remedy::BringUp, {{"interface", "tva0"}}),
              "sudo ip link set tva0 up");
    const std::string networkd =
        RemedyText(LINUX_REMEDIES, Remedy::ReleaseFromNetworkd, {{"interface", "tva0"}});
    EXPECT_NE(networkd.find("Name=tva0\\n"), std::string::npos) << networkd;
    EXPECT_NE(networkd.find("00-tarvik-tva0.network"), std::string::npos) << networkd;
    // A value that holds its own field's name is not filled again.
    EXPECT_EQ(RemedyText(LINUX_REMEDIES, Remedy::BringUp, {{"interface", "{interface}"}}),
              "sudo ip link set {interface} up");
    EXPECT_EQ(RemedyText(LINUX_REMEDIES, Remedy::BringUp), "sudo ip link set {interface} up");
}

TEST(DoctorRemediesTest, EveryFieldOfEitherTableIsOneTheJudgementGives)
{
    const std::regex field(R"(\{([a-z]+)\})");
    const std::set<std::string> known = {"interface", "mtu",   "bridge", "wait",
                                         "binary",    "group", "user",   "explain"};
    for (const RemedyTable* table : {&LINUX_REMEDIES, &WINDOWS_REMEDIES}) {
        for (const RemedyRow& row : *table) {
            const std::string text(row.Text);
            for (std::sregex_iterator it(text.begin(), text.end(), field), end; it != end; ++it) {
                EXPECT_TRUE(known.contains((*it)[1].str())) << text;
            }
        }
    }
}

TEST(DoctorRemediesTest, WindowsAdviceSpeaksWindows)
{
    for (const RemedyRow& row : WINDOWS_REMEDIES) {
        for (const std::string_view linuxOnly :
             {"sudo", "ip link", "ip -br", "nmcli", "networkctl", "setcap", "usermod", "newgrp",
              "dmesg", "ss -0", "tcpdump"}) {
            EXPECT_EQ(row.Text.find(linuxOnly), std::string_view::npos) << row.Text;
        }
    }
    const auto says = [](Remedy remedy, std::string_view words) {
        return WINDOWS_REMEDIES[static_cast<std::size_t>(remedy)].Text.find(words) !=
               std::string_view::npos;
    };
    EXPECT_TRUE(says(Remedy::BringUp, "netsh interface set interface"));
    EXPECT_TRUE(says(Remedy::BringUp, "Network Connections"));
    EXPECT_TRUE(says(Remedy::SetMtu, "netsh"));
    EXPECT_TRUE(says(Remedy::NoPrivilege, "Run as administrator"));
    EXPECT_TRUE(says(Remedy::NoPrivilege, "Administrators only"));
    EXPECT_TRUE(says(Remedy::PrivilegeNotGranted, "Run as administrator"));
}

}  // namespace
}  // namespace tarvik
