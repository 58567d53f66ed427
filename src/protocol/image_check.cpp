#include <algorithm>

#include "image/image_file.h"
#include "protocol/upgrade_link.h"

namespace tarvik {

int UpgradeLink::LoadImageDescriptor(const std::string& path, ImageDescriptor& descriptor)
{
    return ReadImageDescriptor(run_.Files, path, descriptor) == IMAGE_OK ? IMAGE_OK
                                                                         : IMAGE_NO_DESCRIPTOR;
}

int UpgradeLink::CheckImageForTarget(const std::string& path, const MacAddress& target,
                                     ImageDescriptor* device)
{
    if (path.empty()) {
        return CHECK_NO_PATH;
    }
    ImageDescriptor image;
    if (ReadImageDescriptor(run_.Files, path, image) != IMAGE_OK) {
        return CHECK_IMAGE_UNREADABLE;
    }
    ImageDescriptor answer;
    if (QueryTargetInfo(target, answer.Bytes.data()) != QUERY_OK) {
        return CHECK_QUERY_FAILED;
    }
    if (device != nullptr) {
        *device = answer;
    }
    return SameBoardCode(image, answer) ? CHECK_FITS : CHECK_BOARD_MISMATCH;
}

}  // namespace tarvik
