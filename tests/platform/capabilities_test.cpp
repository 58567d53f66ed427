// Giving up capabilities, checked in a forked child (the drop cannot be undone) through what
// the OS reports for every thread in /proc/self/task/*/status.

#include "platform/host/capabilities.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include "platform/capture/pcap_driver.h"
#include "platform/host/process_info.h"
#include "platform/kernel/real_kernel.h"

namespace tarvik {
namespace {

// The sets a thread must hold nothing in after a drop; the bounding set too when it was root.
constexpr const char* EMPTIED_SETS[] = {"CapInh:", "CapPrm:", "CapEff:", "CapAmb:"};

std::string StatusField(const std::filesystem::path& status, const std::string& field)
{
    std::ifstream file(status);
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind(field, 0) == 0) {
            std::istringstream value(line.substr(field.size()));
            std::string hex;
            value >> hex;
            return hex;
        }
    }
    return "missing";
}

bool HoldsNone(const std::filesystem::path& status, bool boundingToo)
{
    for (const char* field : EMPTIED_SETS) {
        if (std::stoull(StatusField(status, field), nullptr, 16) != 0) {
            return false;
        }
    }
    return !boundingToo || std::stoull(StatusField(status, "CapBnd:"), nullptr, 16) == 0;
}

bool EveryThreadHoldsNone(bool boundingToo)
{
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        if (!HoldsNone(task.path() / "status", boundingToo)) {
            return false;
        }
    }
    return true;
}

// Runs check in a child process; its exit status 0 means the check held.
int InChild(bool (*check)())
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(check() ? 0 : 1);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

class CapabilityDropTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::stoull(StatusField("/proc/self/status", "CapPrm:"), nullptr, 16) == 0) {
            GTEST_SKIP() << "this process holds no capability to give up";
        }
    }
};

TEST_F(CapabilityDropTest, TheDropLeavesNoThreadAnyCapability)
{
    EXPECT_EQ(InChild([] {
                  RealKernel kernel;  // its timer thread exists before the drop
                  LinuxProcessInfo process;
                  return process.DropAllCapabilities() && EveryThreadHoldsNone(::geteuid() == 0);
              }),
              0);
}

TEST_F(CapabilityDropTest, APlatformThreadHoldsNoneWhileItsCreatorStillDoes)
{
    EXPECT_EQ(InChild([] {
                  bool threadHeldNone = false;
                  std::thread thread = StartThreadWithoutCapabilities([&threadHeldNone] {
                      threadHeldNone = HoldsNone("/proc/thread-self/status", false);
                  });
                  thread.join();
                  return threadHeldNone && !HoldsNone("/proc/thread-self/status", false);
              }),
              0);
}

TEST_F(CapabilityDropTest, APreparedCaptureOpensAfterTheDropAndOnlyOnce)
{
    EXPECT_EQ(InChild([] {
                  RealKernel kernel;
                  PcapPacketDriver driver(kernel);
                  if (!driver.Prepare("\\Device\\lo")) {
                      return false;
                  }
                  LinuxProcessInfo process;
                  if (!process.DropAllCapabilities()) {
                      return false;
                  }
                  const std::int32_t prepared = driver.OpenAdapter("\\Device\\lo");
                  driver.CloseAdapter(prepared);
                  // Without the right, a capture not prepared cannot be opened.
                  return prepared != INVALID_ADAPTER &&
                         driver.OpenAdapter("\\Device\\lo") == INVALID_ADAPTER;
              }),
              0);
}

}  // namespace
}  // namespace tarvik
