#include "platform/host/doctor_remedies.h"

namespace tarvik {

const RemedyTable& SystemRemedies()
{
    return WINDOWS_REMEDIES;
}

}  // namespace tarvik
