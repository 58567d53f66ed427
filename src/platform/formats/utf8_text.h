#pragma once
// Text from outside the program (file names as the file system holds them, names typed on a
// command line, a history file written by anyone) is bytes in no promised encoding. What goes
// into a record, an event or a JSON line must be UTF-8: these turn any bytes into it.

#include <cstddef>
#include <string>
#include <string_view>

namespace tarvik {

// The length of the valid UTF-8 sequence at the start of text (1 to 4), or 0 when its first
// byte does not begin one: a stray continuation byte, a sequence cut short, an overlong form,
// a surrogate, or a code point above U+10FFFF.
std::size_t Utf8SequenceLength(std::string_view text);

bool IsValidUtf8(std::string_view text);

// The text with every byte that is not part of a valid sequence written as \xHH (upper-case
// digits), so that the result is UTF-8 and the original bytes can still be told: a Latin-1
// "fw-\xE9t\xE9.bin" stays recognisable. Valid text comes back unchanged.
std::string Utf8Escaped(std::string_view text);

// The text with every control character (below U+0020, and DEL) written as \xHH, for a
// table whose rows a newline or an escape sequence in a name would break; invalid bytes as
// Utf8Escaped writes them.
std::string PrintableText(std::string_view text);

}  // namespace tarvik
