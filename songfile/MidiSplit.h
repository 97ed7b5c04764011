#pragma once

// The rewrite every opened song goes through: a Standard MIDI file (format 0 or 1) is read
// strictly and written back as a format 1 file in which no track carries channel events of
// more than one channel. Everything downstream (the sequencer's per-track volume and
// instrument tables, the track panel, the song writer) assumes one channel per track.

#include <string>

namespace songfile {

struct SplitResult {
    // Empty on success; otherwise the text to show the user.
    std::string message;
    // Output tracks minus source tracks; 0 when nothing needed splitting or on failure.
    int addedTracks = 0;
};

// Splits `sourcePath` into `targetPath`, which is created or truncated and written whole.
// Call from one thread at a time (the GUI thread in the program): the working table is
// module-wide. Never throws.
SplitResult SplitMidiFile(const std::string& sourcePath, const std::string& targetPath);

// The text SplitMidiFile gives for a source it cannot open for reading (missing, not
// readable, a folder or a device); empty when it can. Any thread.
std::string sourceReadError(const std::string& sourcePath);

// The text of the most recent failure the reader or writer detected (empty before the
// first). It survives calls: a failure without a text of its own leaves it unchanged.
std::string lastSplitError();

}  // namespace songfile
