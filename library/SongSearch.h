#pragma once

// The full-text query for the words a user types.

#include <string>
#include <string_view>

namespace library {

// Each word becomes a quoted prefix term ("twin"*), all of them required: quotes are
// dropped and a word of nothing but punctuation is left out, so no typed text is a syntax
// error. Empty when no word is left.
std::string matchExpression(std::string_view words);

}  // namespace library
