#pragma once

class QWidget;

namespace gallery {

// A lyric box showing the example song's lyrics, following the song's position on a
// timer (the sung syllable in red), as the player's window does while a song plays.
QWidget* makeLyricBox(QWidget* parent);

}  // namespace gallery
