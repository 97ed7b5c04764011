#pragma once

// A song's texts (track names, copyrights, text events) for showing. Song files carry no
// encoding: text that is valid UTF-8 with at least one multi-byte character is taken as
// UTF-8, anything else byte for byte as Latin-1, which loses nothing of plain ASCII.

#include <QString>

#include <string>
#include <string_view>

namespace dialogs {

QString songText(std::string_view bytes);

// `text` without the characters at or below the space at either end (control characters
// included), as instrument names are shown.
std::string trimmed(std::string_view text);

}  // namespace dialogs
