#pragma once

// Song texts for the library's database, which holds UTF-8. Song files carry no encoding:
// bytes that are valid UTF-8 with at least one multi-byte character are taken as UTF-8,
// anything else as the Western code page (WINDOWS-1252), where every byte is some
// character, so no text is ever refused. Control characters become spaces.

#include <string>
#include <string_view>

namespace library {

std::string songTextUtf8(std::string_view bytes);

// Runs of white space as one space, none at either end.
std::string collapsedSpaces(std::string_view text);

}  // namespace library
