// doctor's judgement of the facts: from a machine where everything is in order, each row
// changes one fact and expects exactly one line that is not a pass, with its result, its words
// and advice.

#include <functional>

#include <gtest/gtest.h>

#include "commands/doctor_checks.h"
#include "netio/adapter_discovery.h"
#include "platform/host/doctor_remedies.h"

namespace tarvik {
namespace {

struct Machine {
    PrivilegeFacts Privilege;
    InterfaceFacts Interface;
    NetworkManagerFacts Managers;
    ProbeFacts Probe;
};

Machine InOrder()
{
    Machine machine;
    machine.Privilege.Root = true;
    machine.Privilege.RawNetworkAccess = true;
    machine.Privilege.Binary = "/usr/bin/tarvik-cli";
    machine.Privilege.UserName = "ana";
    InterfaceFacts& facts = machine.Interface;
    facts.Name = "tva0";
    facts.Exists = true;
    facts.Up = true;
    facts.Carrier = true;
    facts.OperState = "up";
    facts.Medium = InterfaceMedium::Ethernet;
    facts.LinkType = 1;
    facts.Mtu = 1500;
    machine.Probe.OpenResult = DISCOVERY_OK;
    machine.Probe.UntypedSent = true;
    machine.Probe.TypedSent = true;
    machine.Probe.Answers = {
        {"QV00000B", FrameVariantKind::Untyped, FrameVariantKind::Untyped, 3},
        {"QV00000B", FrameVariantKind::Typed, FrameVariantKind::Typed, 4},
    };
    return machine;
}

std::vector<DoctorCheck> Judge(const Machine& machine)
{
    std::vector<DoctorCheck> checks = CheckPrivilege(machine.Privilege);
    for (auto&& more : {CheckInterface(machine.Interface, machine.Managers),
                        CheckProbe(machine.Interface.Name, machine.Probe)}) {
        checks.insert(checks.end(), more.begin(), more.end());
    }
    return checks;
}

struct Row {
    const char* Case;
    std::function<void(Machine&)> Change;
    const char* Check;
    CheckResult Result;
    const char* Words;  // in the line's detail or advice
};

const Row ROWS[] =
    {
        {"no such interface", [](Machine& m) { m.Interface.Exists = false; }, "exists",
         CheckResult::Fail, "no such interface"},
        {"down", [](Machine& m) { m.Interface.Up = m.Interface.Carrier = false; }, "up",
         CheckResult::Fail, "sudo ip link set tva0 up"},
        {"peer down",
         [](Machine& m) {
    m.Interface.Carrier = false;
    m.Interface.OperState = "lowerlayerdown";
         },
         "carrier", CheckResult::Fail, "no carrier (lowerlayerdown)"},
        {"Wi-Fi", [](Machine& m) { m.Interface.Medium = InterfaceMedium::WiFi; }, "medium",
         CheckResult::Warn, "Wi-Fi"},
        {"not Ethernet",
         [](Machine& m) {
    m.Interface.Medium = InterfaceMedium::Other;
    m.Interface.LinkType = 772;
         },
         "medium", CheckResult::Fail, "hardware type 772"},
          {"small MTU", [](Machine& m) { m.Interface.Mtu = 1280; }, "mtu", CheckResult::Warn,
           "sudo ip link set tva0 mtu 1500"},
          {"MTU that just takes a block", [](Machine& m) { m.Interface.Mtu = 522; }, "mtu",
           CheckResult::Warn, "MTU 522"},
          {"MTU too small for a block", [](Machine& m) { m.Interface.Mtu = 521; }, "mtu",
           CheckResult::Fail, "needs 522"},
          {"NetworkManager",
           [](Machine& m) {
    m.Managers.NetworkManager = ManagerState::Managed;
    m.Managers.NetworkManagerState = "connected";
           },
           "networkmanager", CheckResult::Warn, "sudo nmcli device set tva0 managed no"},
    {"systemd-networkd",
     [](Machine& m) {
    m.Managers.Networkd = ManagerState::Managed;
    m.Managers.NetworkdState = "configured";
     },
     "networkd", CheckResult::Warn, "Unmanaged=yes"},
    {"bridge with spanning tree",
     [](Machine& m) {
    m.Interface.BridgePort = BridgePortFacts{"br0", true, 15000, true, "forwarding"};
     },
     "bridge", CheckResult::Warn, "stp_state 0"},
    {"bridge port still listening",
     [](Machine& m) {
    m.Interface.BridgePort = BridgePortFacts{"br0", true, 4000, false, "listening"};
     },
     "bridge", CheckResult::Fail, "wait 8 s"},
    {"bond", [](Machine& m) { m.Interface.BondMaster = "bond0"; }, "bond", CheckResult::Warn,
     "-i bond0"},
    {"VLAN",
     [](Machine& m) {
    m.Interface.Vlan = VlanFacts{100, "eth0"};
     },
     "vlan", CheckResult::Warn, "VLAN 100 on eth0"},
    {"another raw socket",
     [](Machine& m) {
    m.Interface.OtherRawSockets = {{"tarvik-target", 42, 0}};
     },
     "raw-sockets", CheckResult::Warn, "1 other raw socket on it: tarvik-target (pid 42)"},
    {"no privilege, no group",
     [](Machine& m) { m.Privilege.Root = m.Privilege.RawNetworkAccess = false; }, "privilege",
     CheckResult::Fail, "sudo setcap cap_net_raw+ep /usr/bin/tarvik-cli"},
    {"no privilege, the group exists",
     [](Machine& m) {
    m.Privilege.Root = m.Privilege.RawNetworkAccess = false;
    m.Privilege.GroupExists = true;
     },
     "privilege", CheckResult::Fail, "sudo usermod -aG tarvik ana"},
    {"group granted, session not yet in it",
     [](Machine& m) {
    m.Privilege.Root = m.Privilege.RawNetworkAccess = false;
    m.Privilege.GroupExists = m.Privilege.GroupInDatabase = true;
     },
     "privilege", CheckResult::Fail, "newgrp tarvik"},
    {"group pending beside a capability",
     [](Machine& m) {
    m.Privilege.Root = false;
    m.Privilege.GroupExists = m.Privilege.GroupInDatabase = true;
     },
     "group", CheckResult::Warn, "log out and in again"},
    {"the socket does not open",
     [](Machine& m) {
    m.Probe = ProbeFacts{DISCOVERY_OPEN_ADAPTER_FAILED, false, false, {}, {}};
     },
     "filter", CheckResult::Fail, "see the privilege line"},
    {"the open refused for a reason the system gives",
     [](Machine& m) {
    m.Probe = ProbeFacts{};
    m.Probe.OpenResult = DISCOVERY_OPEN_ADAPTER_FAILED;
    m.Probe.OpenFailure = "adapter \"tva0\" cannot carry VLAN 12 tagged by Tarvik: its driver ...";
     },
     "filter", CheckResult::Fail, "could not be opened: adapter \"tva0\" cannot carry VLAN 12"},
    {"the filter is refused",
     [](Machine& m) {
    m.Probe = ProbeFacts{DISCOVERY_START_RECEPTION_FAILED, false, false, {}, {}};
     },
     "filter", CheckResult::Fail, "explain 34"},
    {"a probe not sent",
     [](Machine& m) {
    m.Probe.TypedSent = false;
    m.Probe.Answers.pop_back();
     },
     "probe-typed", CheckResult::Fail, "could not be sent"},
    {"nobody answers", [](Machine& m) { m.Probe.Answers.clear(); }, "devices", CheckResult::Warn,
     "no device answered in either frame type"},
    {"typed frames only", [](Machine& m) { m.Probe.Answers.erase(m.Probe.Answers.begin()); },
     "frame-type", CheckResult::Warn, "--frame-type typed"},
    {"an answer in the other frame type",
     [](Machine& m) {
    m.Probe.Answers.push_back({"QV00000C", FrameVariantKind::Untyped, FrameVariantKind::Typed, 5});
     },
     "frame-type", CheckResult::Warn, "QV00000C answered the untyped probe in typed frames"},
    };

TEST(DoctorChecksTest, EachFaultGivesItsOneLineWithAdvice)
{
    const std::vector<DoctorCheck> healthy = Judge(InOrder());
    EXPECT_FALSE(AnyCheckFailed(healthy));
    for (const DoctorCheck& check : healthy) {
        EXPECT_EQ(check.Result, CheckResult::Pass) << check.Name << ": " << check.Detail;
    }

    for (const Row& row : ROWS) {
        SCOPED_TRACE(row.Case);
        Machine machine = InOrder();
        row.Change(machine);
        const std::vector<DoctorCheck> checks = Judge(machine);
        std::vector<DoctorCheck> raised;
        for (const DoctorCheck& check : checks) {
            if (check.Result != CheckResult::Pass) {
                raised.push_back(check);
                EXPECT_FALSE(check.Advice.empty()) << check.Name << " says nothing to do";
            }
        }
        ASSERT_EQ(raised.size(), 1U);
        EXPECT_EQ(raised[0].Name, row.Check);
        EXPECT_EQ(raised[0].Result, row.Result);
        // The rows' words are those of Linux's remedies; elsewhere the system's own table
        // gives the advice (its words are held to that system by the remedies' own test).
        if (&SystemRemedies() == &LINUX_REMEDIES) {
            EXPECT_NE((raised[0].Detail + " " + raised[0].Advice).find(row.Words),
                      std::string::npos)
                << raised[0].Detail << "  ->  " << raised[0].Advice;
        }
        EXPECT_EQ(AnyCheckFailed(checks), row.Result == CheckResult::Fail);
    }
}

// --- a bay's interface: a VLAN on a trunk, tagged by the program or by the system ---

std::vector<DoctorCheck> Raised(const std::vector<DoctorCheck>& checks)
{
    std::vector<DoctorCheck> raised;
    for (const DoctorCheck& check : checks) {
        if (check.Result != CheckResult::Pass) {
            raised.push_back(check);
        }
    }
    return raised;
}

const DoctorCheck* Find(const std::vector<DoctorCheck>& checks, std::string_view name)
{
    for (const DoctorCheck& check : checks) {
        if (check.Name == name) {
            return &check;
        }
    }
    return nullptr;
}

TEST(DoctorChecksTest, AVlanBayIsJudgedOnItsTrunkAndNamesTheSwitchsSpanningTree)
{
    const Machine machine = InOrder();
    // tva0.12 with no system interface: the facts are the trunk's, tva0's.
    const std::vector<DoctorCheck> tagged =
        CheckInterface(machine.Interface, machine.Managers, {12, true});
    EXPECT_TRUE(Raised(tagged).empty());
    ASSERT_NE(Find(tagged, "exists"), nullptr);
    EXPECT_EQ(Find(tagged, "exists")->Detail, "the system has no tva0.12; its trunk tva0 exists");
    ASSERT_NE(Find(tagged, "vlan"), nullptr);
    EXPECT_EQ(Find(tagged, "vlan")->Detail,
              "VLAN 12 tagged by Tarvik on tva0: frames go out tagged, and only replies on VLAN "
              "12 are taken");
    // The switch's ports cannot be seen: what to set on them is said all the same.
    ASSERT_NE(Find(tagged, "switch"), nullptr);
    EXPECT_NE(Find(tagged, "switch")->Advice.find("edge port (spanning-tree portfast"),
              std::string::npos);

    // A missing trunk fails as a missing interface does, naming both.
    Machine missing = InOrder();
    missing.Interface.Exists = false;
    const std::vector<DoctorCheck> gone =
        CheckInterface(missing.Interface, missing.Managers, {12, true});
    ASSERT_EQ(gone.size(), 1U);
    EXPECT_EQ(gone[0].Result, CheckResult::Fail);
    EXPECT_EQ(gone[0].Detail, "no such interface, neither tva0.12 nor tva0");

    // The system's own VLAN interface, named as a bay's IFACE.VID: the tag is what the bay is
    // for, not a warning; outside such a name it still warns.
    Machine system = InOrder();
    system.Interface.Name = "tva0.12";
    system.Interface.Vlan = VlanFacts{12, "tva0"};
    const std::vector<DoctorCheck> vlan =
        CheckInterface(system.Interface, system.Managers, {12, false});
    EXPECT_TRUE(Raised(vlan).empty());
    EXPECT_NE(Find(vlan, "switch"), nullptr);
    EXPECT_EQ(Raised(CheckInterface(system.Interface, system.Managers)).size(), 1U);
    EXPECT_EQ(Find(CheckInterface(machine.Interface, machine.Managers), "switch"), nullptr);

    // A silent VLAN is looked for on the switch, not on a cable without one.
    ProbeFacts silent = machine.Probe;
    silent.Answers.clear();
    const std::vector<DoctorCheck> heard = CheckProbe("tva0.12", silent, {12, true});
    ASSERT_NE(Find(heard, "devices"), nullptr);
    EXPECT_NE(Find(heard, "devices")->Advice.find("access port of VLAN 12 (untagged)"),
              std::string::npos);
    EXPECT_EQ(Find(heard, "devices")->Advice.find("no switch"), std::string::npos);
}

// --- the link's changes since the last check ---

constexpr std::int64_t LAST_CHECK_MS = 1'796'900'000'000;  // 2026-12-10 10:53:20 UTC

TEST(DoctorChecksTest, CarrierChangesSinceTheLastCheck)
{
    struct Case {
        const char* Name;
        CarrierChangeFacts Facts;
        CheckResult Result;
        const char* Detail;
    };
    const CarrierRecord last{40, LAST_CHECK_MS};
    const Case cases[] = {
        {"first check",
         {5, std::nullopt, ""},
         CheckResult::Pass,
         "carrier changes: first check here, 5 since the interface was made; recorded"},
        {"none",
         {40, last, ""},
         CheckResult::Pass,
         "carrier changes: none since the last check (2026-12-10 10:53:20 UTC)"},
        {"some",
         {43, last, ""},
         CheckResult::Warn,
         "carrier changes: 3 since the last check (2026-12-10 10:53:20 UTC): the link went down "
         "and up again"},
        {"the interface made again",
         {2, last, ""},
         CheckResult::Pass,
         "carrier changes: counted afresh since the last check (2026-12-10 10:53:20 UTC): the "
         "interface was made again or the system restarted"},
        // A log that cannot be kept is said, and changes nothing of the judgement.
        {"not kept",
         {41, last, "cannot create /nowhere: Permission denied"},
         CheckResult::Warn,
         "carrier changes: 1 since the last check (2026-12-10 10:53:20 UTC): the link went down "
         "and up again (not kept for the next check: cannot create /nowhere: Permission denied)"},
        {"first, not kept",
         {5, std::nullopt, "no home"},
         CheckResult::Pass,
         "carrier changes: first check here, 5 since the interface was made (not kept for the "
         "next check: no home)"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.Name);
        const std::vector<DoctorCheck> checks = CheckCarrierChanges("tva0", row.Facts);
        ASSERT_EQ(checks.size(), 1U);
        EXPECT_EQ(checks[0].Interface, "tva0");
        EXPECT_EQ(checks[0].Name, "carrier-changes");
        EXPECT_EQ(checks[0].Result, row.Result);
        EXPECT_EQ(checks[0].Detail, row.Detail);
        if (row.Result == CheckResult::Warn) {
            EXPECT_NE(checks[0].Advice.find("cable"), std::string::npos) << checks[0].Advice;
            EXPECT_NE(checks[0].Advice.find("fixture's contacts"), std::string::npos);
        }
    }
    // A system that keeps no count: nothing is said.
    EXPECT_TRUE(CheckCarrierChanges("tva0", {std::nullopt, last, ""}).empty());
}

}  // namespace
}  // namespace tarvik
