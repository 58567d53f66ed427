#pragma once
// Giving up capabilities once the raw sockets a program needs are open. Linux keeps the
// capability sets per thread and a new thread copies its creator's, so the threads this layer
// starts give theirs up as their first act, and a program drops its own thread's after the
// open.

#include <functional>
#include <thread>

namespace tarvik {

// Clears the calling thread's permitted, effective, inheritable and ambient sets; where the
// thread may (CAP_SETPCAP), also empties the bounding set and keeps root from regaining
// capabilities through exec. False when any capability is left in the first three sets.
bool DropThreadCapabilities();

// Starts a thread that holds no capability: body runs only after the drop, and the call
// returns once the thread has dropped them. None of this layer's threads needs one.
std::thread StartThreadWithoutCapabilities(std::function<void()> body);

}  // namespace tarvik
