#include "platform/host/listening_socket.h"

#include <sys/socket.h>

namespace tarvik {

bool MakeListeningSocketExclusive(std::uintptr_t socket)
{
    // SO_REUSEADDR alone: a port in TIME_WAIT is taken again, a port in use is not.
    const int yes = 1;
    return setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) == 0;
}

}  // namespace tarvik
