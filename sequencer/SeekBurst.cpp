// What a seek sends. Moving silently through a dense song meets thousands of controller,
// program and pitch-bend messages per channel; sent one by one they would flood the
// synthesizer's queue, and only the state they leave behind matters. So a seek gathers
// them and sends, per channel, the last value of each piece of state, in the order the
// song gave them.
//
// A message may go only when a later one of the same kind replaces its effect and
// nothing in between depends on it: a program change reads the bank select before it,
// a data entry reads the parameter selected before it, and a reset or mode message
// touches everything on its channel, so each of these keeps what it depends on.
// Notes, and key pressure on them, change no lasting state after the silence a seek
// starts with: they go.

#include <array>
#include <bitset>

#include "engine.h"

namespace pulsant {
namespace {

// State keys per channel: controllers 0..127, then program, channel pressure, pitch bend.
constexpr std::size_t kProgramKey = 128;
constexpr std::size_t kPressureKey = 129;
constexpr std::size_t kBendKey = 130;
constexpr std::size_t kKeys = 131;

constexpr std::uint8_t kBankMsb = 0;
constexpr std::uint8_t kBankLsb = 32;
constexpr std::uint8_t kDataEntryMsb = 6;
constexpr std::uint8_t kDataEntryLsb = 38;
constexpr std::uint8_t kDataIncrement = 96;
constexpr std::uint8_t kDataDecrement = 97;
constexpr std::uint8_t kFirstSelect = 98;  // NRPN LSB, NRPN MSB, RPN LSB, RPN MSB
constexpr std::uint8_t kLastSelect = 101;
constexpr std::uint8_t kFirstModeMessage = 120;

using Seen = std::bitset<kKeys>;

void forgetSelects(Seen& seen) {
    for (std::uint8_t c = kFirstSelect; c <= kLastSelect; ++c) {
        seen.reset(c);
    }
}

// Walking backwards: whether the message must be sent, given what later messages on its
// channel already set (`seen`); updates `seen` for the messages before it.
bool keepGoingBack(std::uint32_t message, Seen& seen) {
    const std::uint8_t status = message & 0xFF;
    const std::uint8_t data1 = (message >> 8) & 0x7F;
    switch (status & 0xF0) {
        case 0x80:
        case 0x90:
        case 0xA0:
            return false;
        case 0xB0:
            break;
        case 0xC0:
            if (seen.test(kProgramKey)) {
                return false;
            }
            seen.set(kProgramKey);
            seen.reset(kBankMsb);
            seen.reset(kBankLsb);
            return true;
        case 0xD0:
        case 0xE0: {
            const std::size_t key = (status & 0xF0) == 0xD0 ? kPressureKey : kBendKey;
            if (seen.test(key)) {
                return false;
            }
            seen.set(key);
            return true;
        }
        default:
            return true;  // system messages: rare, kept as they are
    }
    if (data1 >= kFirstModeMessage) {
        seen.reset();
        return true;
    }
    if (data1 == kDataIncrement || data1 == kDataDecrement) {
        seen.reset(kDataEntryMsb);
        seen.reset(kDataEntryLsb);
        forgetSelects(seen);
        return true;
    }
    if (seen.test(data1)) {
        return false;
    }
    seen.set(data1);
    if (data1 == kDataEntryMsb || data1 == kDataEntryLsb) {
        forgetSelects(seen);
    } else if (data1 >= kFirstSelect && data1 <= kLastSelect) {
        // Data entries before this one went to the parameter selected then.
        seen.reset(kDataEntryMsb);
        seen.reset(kDataEntryLsb);
    }
    return true;
}

}  // namespace

void CoalesceSeekBurst(std::vector<std::uint32_t>& messages) {
    std::array<Seen, 16> seen{};
    std::vector<bool> keep(messages.size());
    for (std::size_t i = messages.size(); i-- > 0;) {
        keep[i] = keepGoingBack(messages[i], seen[messages[i] & 0x0F]);
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        if (keep[i]) {
            messages[kept++] = messages[i];
        }
    }
    messages.resize(kept);
}

}  // namespace pulsant
