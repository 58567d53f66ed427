#include "platform/host/doctor_remedies.h"

namespace tarvik {

const RemedyTable& SystemRemedies()
{
    return LINUX_REMEDIES;
}

}  // namespace tarvik
