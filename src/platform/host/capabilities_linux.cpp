#include "platform/host/capabilities.h"

#include <future>
#include <memory>
#include <type_traits>

#include <linux/securebits.h>
#include <sys/capability.h>

namespace tarvik {
namespace {

struct CapFree {
    void operator()(cap_t caps) const { cap_free(caps); }
};
using CapSet = std::unique_ptr<std::remove_pointer_t<cap_t>, CapFree>;

bool MayChangeBoundingSet()
{
    const CapSet own(cap_get_proc());
    cap_flag_value_t setpcap = CAP_CLEAR;
    return own && cap_get_flag(own.get(), CAP_SETPCAP, CAP_EFFECTIVE, &setpcap) == 0 &&
           setpcap == CAP_SET;
}

// Root regains the full sets at every exec unless told otherwise; the lock keeps it so.
constexpr unsigned ROOT_GAINS_NOTHING = SECBIT_NOROOT | SECBIT_NOROOT_LOCKED;

}  // namespace

bool DropThreadCapabilities()
{
    // The bounding set and the secure bits need CAP_SETPCAP, so they go first.
    if (MayChangeBoundingSet()) {
        for (cap_value_t cap = 0; cap < static_cast<cap_value_t>(cap_max_bits()); ++cap) {
            if (cap_drop_bound(cap) != 0) {
                return false;
            }
        }
        if (cap_set_secbits(cap_get_secbits() | ROOT_GAINS_NOTHING) != 0) {
            return false;
        }
    }
    // Linux versions without ambient sets say so; there is nothing to clear then.
    if (CAP_AMBIENT_SUPPORTED() && cap_reset_ambient() != 0) {
        return false;
    }
    const CapSet none(cap_init());
    if (!none || cap_set_proc(none.get()) != 0) {
        return false;
    }
    const CapSet left(cap_get_proc());
    return left && cap_compare(left.get(), none.get()) == 0;
}

std::thread StartThreadWithoutCapabilities(std::function<void()> body)
{
    std::promise<void> dropped;
    std::future<void> ready = dropped.get_future();
    std::thread thread([dropped = std::move(dropped), body = std::move(body)]() mutable {
        // A thread that cannot clear its own sets holds none it could give up.
        DropThreadCapabilities();
        dropped.set_value();
        body();
    });
    ready.wait();
    return thread;
}

}  // namespace tarvik
