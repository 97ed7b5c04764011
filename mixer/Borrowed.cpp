// The user's settings that selecting a device changes (the speakers unmuted, quiet volumes
// raised) are borrowed: their values before are kept and given back when the device is
// let go, unless the user has changed them since.

#include <algorithm>
#include <span>

#include "State.h"

namespace faderlib {
namespace {

bool readValues(audio::MixerId mixer, std::int64_t control, std::uint32_t channels,
                std::array<std::uint32_t, 2>& values) {
    values = {};
    return control != kNone &&
           audio::mixerGetValues(mixer, static_cast<std::uint32_t>(control), channels,
                                 std::span(values.data(), channels)) == MixerError::Ok;
}

}  // namespace

bool writeBorrowed(std::vector<Borrowed>& borrowed, audio::MixerId mixer, std::int64_t control,
                   std::uint32_t value) {
    if (control == kNone) {
        return false;
    }
    const auto known = std::find_if(borrowed.begin(), borrowed.end(), [&](const Borrowed& b) {
        return b.mixer == mixer && b.control == control;
    });
    Borrowed fresh{mixer, control};
    bool readable = known != borrowed.end();
    // Every channel as it was; a control with one channel answers to one.
    for (const std::uint32_t channels : {2u, 1u}) {
        if (!readable) {
            fresh.channels = channels;
            readable = readValues(mixer, control, channels, fresh.before);
        }
    }
    if (!writeOne(mixer, control, value)) {
        return false;
    }
    if (!readable) {
        return true;  // nothing to give back
    }
    Borrowed& entry = known != borrowed.end() ? *known : fresh;
    // What the control reads now, in the mixer's own rounding, is what tells later whether
    // the user changed it.
    readValues(mixer, control, entry.channels, entry.written);
    if (known == borrowed.end() && fresh.written != fresh.before) {
        borrowed.push_back(fresh);
    }
    return true;
}

void giveBack(std::vector<Borrowed>& borrowed) {
    for (auto it = borrowed.rbegin(); it != borrowed.rend(); ++it) {
        std::array<std::uint32_t, 2> now{};
        if (readValues(it->mixer, it->control, it->channels, now) && now == it->written) {
            audio::mixerSetValues(it->mixer, static_cast<std::uint32_t>(it->control), it->channels,
                                  std::span(it->before.data(), it->channels));
        }
    }
    borrowed.clear();
}

}  // namespace faderlib
