#pragma once
// Replies held back by --delay until they are due.

#include <algorithm>
#include <cstdint>
#include <list>
#include <vector>

namespace tarvik::target {

// Replies in due order (equal times keep their order). Due times are tick counts, compared by
// their difference so that the tick count's wrap does no harm.
class DelayedReplies {
public:
    void Add(std::uint32_t due, std::vector<std::uint8_t> frame)
    {
        const auto later = std::find_if(held_.begin(), held_.end(), [due](const Held& held) {
            return Ahead(due, held.Due) < 0;
        });
        held_.insert(later, Held{due, std::move(frame)});
    }

    // Milliseconds from now until the next one is due, at most ceiling.
    std::uint32_t WaitMs(std::uint32_t now, std::uint32_t ceiling) const
    {
        if (held_.empty()) {
            return ceiling;
        }
        return static_cast<std::uint32_t>(std::clamp<std::int64_t>(Ahead(held_.front().Due, now), 0,
                                                                   ceiling));
    }

    // Hands every reply due by now to send, in due order, and forgets it.
    template <typename Send>
    void SendDue(std::uint32_t now, Send&& send)
    {
        while (!held_.empty() && Ahead(held_.front().Due, now) <= 0) {
            send(held_.front().Frame);
            held_.pop_front();
        }
    }

    std::size_t Size() const { return held_.size(); }

private:
    struct Held {
        std::uint32_t Due;
        std::vector<std::uint8_t> Frame;
    };

    // How far tick a lies after tick b (negative when before).
    static std::int32_t Ahead(std::uint32_t a, std::uint32_t b)
    {
        return static_cast<std::int32_t>(a - b);
    }

    std::list<Held> held_;
};

}  // namespace tarvik::target
