#pragma once

// The lyric font as the settings file names it ("Times New Roman" by default) and the
// font the screen really has for it. Few Linux systems carry the font a stored name asks
// for; the system's font configuration knows the installed font that stands in for it
// (a serif for a serif), which is what the lyrics are drawn with and what the font dialog
// starts on. The stored name itself is kept, so a settings file moved between systems
// keeps asking for what the user chose.

#include <QString>

namespace cvkapp {

// The installed family that the font configuration picks for `family`: `family` itself
// (without a " [foundry]" suffix) when it is installed, otherwise its configured
// substitute. `family` unchanged when nothing better is known (no configuration, or its
// answer is not a family the toolkit lists). Results are remembered for the process.
QString installedFontFamily(const QString& family);

}  // namespace cvkapp
