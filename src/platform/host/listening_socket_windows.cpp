#include "platform/host/listening_socket.h"

#include <winsock2.h>

namespace tarvik {

bool MakeListeningSocketExclusive(std::uintptr_t socket)
{
    // Windows' SO_REUSEADDR would let another program take the port over; SO_EXCLUSIVEADDRUSE
    // keeps it this program's.
    const BOOL yes = TRUE;
    return setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                      reinterpret_cast<const char*>(&yes), sizeof yes) == 0;
}

}  // namespace tarvik
