#pragma once
// Text from outside (device names, descriptors, file names, station names: much of it from
// frames anyone on the segment may send) goes into a page or a picture only through here, so
// that it always stays text: markup characters become entities, bytes that are not UTF-8 are
// written as \xHH (as in the records), and control characters XML does not admit become U+FFFD.

#include <string>
#include <string_view>

namespace tarvik::panel {

// For element content and for attribute values in double or single quotes (HTML and SVG/XML).
std::string MarkupEscaped(std::string_view text);

}  // namespace tarvik::panel
