#pragma once

// Symbols of the audio library, which is shared so that one process has one connection to
// the sound server, one table of open wave devices and one mixer.
#define CVK_AUDIO_API __attribute__((visibility("default")))
