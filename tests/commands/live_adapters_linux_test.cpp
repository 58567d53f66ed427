// Adapter discovery on this machine's own interfaces (Linux: a veth pair made for the test).

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

#include "commands/adapter_selection.h"
#include "platform/registry/registry.h"

namespace tarvik {
namespace {

// A veth pair in the current namespace for the length of one test.
class VethPair {
public:
    VethPair()
        : a_("tvk" + std::to_string(::getpid()) + "a"), b_("tvk" + std::to_string(::getpid()) + "b")
    {
        made_ = std::system(("ip link add " + a_ + " type veth peer name " + b_ +
                             " >/dev/null 2>&1 && ip link set " + a_ + " up && ip link set " + b_ +
                             " up")
                                .c_str()) == 0;
    }
    ~VethPair() { std::system(("ip link del " + a_ + " >/dev/null 2>&1").c_str()); }
    VethPair(const VethPair&) = delete;
    VethPair& operator=(const VethPair&) = delete;

    bool Made() const { return made_; }
    const std::string& A() const { return a_; }
    const std::string& B() const { return b_; }

private:
    std::string a_;
    std::string b_;
    bool made_ = false;
};

TEST(LiveAdapterListTest, ListsBothEndsOfAVethPairAndNotTheLoopback)
{
    if (::geteuid() != 0 || std::system("command -v ip >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "needs root and the ip command to make a veth pair";
    }
    const VethPair pair;
    if (!pair.Made()) {
        GTEST_SKIP() << "this OS would not make a veth pair";
    }
    LiveRegistry registry;
    AdapterList list;
    ASSERT_EQ(ListAdaptersNT(registry, list), DISCOVERY_OK);

    for (const std::string& end : {pair.A(), pair.B()}) {
        const int index = FindAdapterIndex(list, end);
        ASSERT_GE(index, 0) << end << " is not listed";
        EXPECT_EQ(list.Names[static_cast<std::size_t>(index)], "\\Device\\" + end);
        EXPECT_TRUE(list.Descriptions[static_cast<std::size_t>(index)].starts_with(end + " "))
            << list.Descriptions[static_cast<std::size_t>(index)];
    }
    EXPECT_EQ(FindAdapterIndex(list, "lo"), -1);
}

}  // namespace
}  // namespace tarvik
