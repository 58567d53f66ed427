#pragma once
// What a signature's trusted comment says an image is for, read without anything of the
// signature itself: the runs that check devices against it need only this.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "image/descriptor.h"

namespace tarvik {

// What a signed comment says the image is for:
//   boards=BOARD[,BOARD...]  the board codes (12 hex digits each, as the information block
//                            shows them) the image may be written to
//   version=HHHH             the image's firmware version, as the information block shows it
//   rollback=yes|no          whether it may replace newer firmware (no when left out)
// Other words (minisign's own timestamp:… file:…) are left alone. A comment without boards=
// carries no list.
struct SignedUse {
    bool HasList = false;
    std::vector<std::array<std::uint8_t, BOARD_CODE_BYTES>> Boards;
    std::optional<std::array<std::uint8_t, 2>> Version;
    bool RollbackAllowed = false;
};

// Nothing, with why, when a word it knows has a value it cannot read.
std::optional<SignedUse> ParseSignedUse(std::string_view comment, std::string& why);

}  // namespace tarvik
