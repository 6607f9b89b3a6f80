// Internal: Jet 4 text encodings to and from UTF-8.
//
// Jet 4 stores text as UCS-2 little-endian, or in "compressed Unicode":
// the bytes FF FE, then runs that alternate between one byte per character
// (high byte 0) and two bytes per character, each switch marked by a 0x00
// byte; the string starts in one-byte mode and may end in either
// (format notes, "Text Data Type"; every text fixture).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace jet {

// UCS-2/UTF-16 little-endian bytes (an odd last byte is ignored) to UTF-8.
// Unpaired surrogates become U+FFFD.
std::string utf16le_to_utf8(const uint8_t* data, std::size_t bytes);

// Appends the UTF-8 form of a stored text value (compressed or not) to `out`.
void append_jet_text(const uint8_t* data, std::size_t bytes, std::string& out);

// UTF-8 to UTF-16 little-endian bytes, appended to `out`. Invalid UTF-8
// sequences become U+FFFD.
void append_utf8_as_utf16le(std::string_view text, std::string& out);

// UTF-8 to code points and back, for functions that count, cut or compare
// characters (Len, Mid, LIKE). A sequence cut short at the end of the text
// takes the bits it has.
std::u32string utf8_to_utf32(std::string_view text);
std::string utf32_to_utf8(std::u32string_view text);

}  // namespace jet
