#pragma once

// Reading and writing the raw bytes of Standard MIDI files: big-endian words, variable-
// length quantities, and (from smf/) the measure of one event. Every read is bounded by
// the end it is given; nothing here reads past it.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "smf/EventMeasure.h"

namespace songfile {

std::uint16_t readBigEndian16(const std::uint8_t* bytes);
std::uint32_t readBigEndian32(const std::uint8_t* bytes);
void appendBigEndian16(std::vector<std::uint8_t>& out, std::uint16_t value);
void appendBigEndian32(std::vector<std::uint8_t>& out, std::uint32_t value);

// Decodes a variable-length quantity at `pos` (any number of bytes, 32-bit result, high
// bits falling off). False, with `pos` at `end`, when it is cut off by `end`.
bool readVarLen(const std::uint8_t* data, std::size_t end, std::size_t& pos, std::uint32_t& value);

// Appends `value` in the shortest form (one to five bytes).
void appendVarLen(std::vector<std::uint8_t>& out, std::uint32_t value);

// The measure of one event, shared with the sequencer.
using smf::EventKind;
using smf::MidiEvent;

inline MidiEvent measureEvent(const std::uint8_t* data, std::size_t end, std::size_t pos,
                              std::uint8_t& runningStatus) {
    return smf::measureEvent(data, end, pos, runningStatus);
}

}  // namespace songfile
