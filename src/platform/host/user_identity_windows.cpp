#include "platform/host/user_identity.h"

#include <cstdlib>

namespace tarvik {

// Windows sets both for every session.
std::string MachineName()
{
    const char* name = std::getenv("COMPUTERNAME");
    return name != nullptr ? name : "";
}

std::string LoginName()
{
    const char* name = std::getenv("USERNAME");
    return name != nullptr ? name : "";
}

}  // namespace tarvik
