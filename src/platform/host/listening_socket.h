#pragma once
// A listening socket that only this program holds: a second program asking for the same
// address and port is refused instead of sharing it (Linux's SO_REUSEPORT, or Windows letting
// a later bind take the port over), while a restart may still bind at once to a port whose
// last connections are closing.

#include <cstdint>

namespace tarvik {

// socket: the system's handle (a descriptor on Linux, a SOCKET on Windows). False when the
// system refused the option.
bool MakeListeningSocketExclusive(std::uintptr_t socket);

}  // namespace tarvik
