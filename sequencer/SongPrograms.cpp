// The programs a loaded song selects, for the output device to prepare before the song
// plays: loading an instrument when its program change comes would stall the sound.
//
// A program change picks from the bank its channel's bank select chose last, and in a
// type 1 file that bank select may sit in another track. So the tracks' bank selects and
// program changes are put in the order the player sends them - by tick, then by slot,
// then by place in the track - and followed through as the player would.

#include <algorithm>
#include <array>
#include <tuple>
#include <vector>

#include "engine.h"
#include "smf/EventMeasure.h"

namespace pulsant {
namespace {

constexpr std::uint8_t kBankMsb = 0;
constexpr std::uint8_t kBankLsb = 32;

struct Selection {
    std::uint64_t tick = 0;
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
    std::uint8_t replacement = kKeepProgram;  // the caller's instrument for this change
};

// Appends the slot's bank selects and program changes. The first program change with
// its own status byte is the one ApplyProgramOverride rewrites: it carries the override.
void gatherSlot(int slotIndex, std::uint8_t replacement, std::vector<Selection>& out) {
    const TrackSlot& slot = engine().slots[slotIndex];
    const std::size_t end = slot.length;
    std::size_t pos = 0;
    std::uint64_t tick = 0;
    std::uint8_t runningStatus = 0;
    bool overridePlaced = false;
    while (pos < end) {
        std::uint32_t delta = 0;
        if (!smf::readVarLen(slot.data, end, pos, delta) || pos >= end) {
            return;
        }
        tick += delta;
        const smf::MidiEvent event = smf::measureEvent(slot.data, end, pos, runningStatus);
        if (!event.complete || event.isEndOfTrack()) {
            return;
        }
        pos += event.length;
        if (event.kind != smf::EventKind::Channel || event.status == 0) {
            continue;
        }
        const std::uint8_t kind = event.status & 0xF0;
        const std::uint8_t data1 = slot.data[event.dataOffset];
        if (kind == 0xC0 && data1 < 0x80) {
            Selection change{tick, event.status, data1, 0, kKeepProgram};
            if (event.hasStatusByte && !overridePlaced) {
                overridePlaced = true;
                change.replacement = replacement;
            }
            out.push_back(change);
        } else if (kind == 0xB0 && (data1 == kBankMsb || data1 == kBankLsb)) {
            const std::uint8_t data2 = slot.data[event.dataOffset + 1];
            if (data2 < 0x80) {
                out.push_back({tick, event.status, data1, data2, kKeepProgram});
            }
        }
    }
}

}  // namespace

std::vector<platform::MidiProgram> SongPrograms(const std::uint16_t* instruments) {
    std::vector<Selection> selections;
    for (int n = 0; n < kSlotCount; ++n) {
        if (engine().slots[n].present) {
            const auto replacement =
                instruments != nullptr ? static_cast<std::uint8_t>(instruments[n] & 0xFF) : kKeepProgram;
            gatherSlot(n, replacement, selections);
        }
    }
    std::stable_sort(selections.begin(), selections.end(),
                     [](const Selection& a, const Selection& b) { return a.tick < b.tick; });

    std::array<std::uint8_t, 16> msb{};
    std::array<std::uint8_t, 16> lsb{};
    std::vector<platform::MidiProgram> programs;
    for (const Selection& s : selections) {
        const std::uint8_t channel = s.status & 0x0F;
        if ((s.status & 0xF0) == 0xB0) {
            (s.data1 == kBankMsb ? msb : lsb)[channel] = s.data2;
            continue;
        }
        programs.push_back({channel, msb[channel], lsb[channel], s.data1});
        // A replacement that is no program number is dropped as the player drops it.
        if (s.replacement < 0x80) {
            programs.push_back({channel, msb[channel], lsb[channel], s.replacement});
        }
    }
    const auto order = [](const platform::MidiProgram& a, const platform::MidiProgram& b) {
        return std::tie(a.channel, a.bankMsb, a.bankLsb, a.program) <
               std::tie(b.channel, b.bankMsb, b.bankLsb, b.program);
    };
    std::sort(programs.begin(), programs.end(), order);
    programs.erase(std::unique(programs.begin(), programs.end()), programs.end());
    return programs;
}

}  // namespace pulsant
