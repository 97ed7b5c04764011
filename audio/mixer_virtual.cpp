// The virtual mixer: cards with whatever lines and controls a test describes, values kept
// in memory. Control identifiers are unique across all cards, as a test expects of the
// identifiers it compares.

#include <algorithm>

#include "mixer_backend.h"

namespace audio::detail {
namespace {

struct ControlRef {
    std::uint32_t card = 0;
    std::uint32_t destination = 0;
    int source = -1;  // -1: the destination's own control
    std::uint32_t index = 0;
};

std::uint32_t lineIdOf(std::uint32_t destination, int source) {
    return ((destination + 1) << 16) | static_cast<std::uint32_t>(source + 1);
}

class VirtualMixer final : public MixerBackend {
public:
    explicit VirtualMixer(const VirtualMixerSetup& setup) : m_setup(setup) {
        for (std::uint32_t c = 0; c < m_setup.cards.size(); ++c) {
            auto& destinations = m_setup.cards[c].destinations;
            for (std::uint32_t d = 0; d < destinations.size(); ++d) {
                index(c, d, -1, destinations[d]);
                for (std::uint32_t s = 0; s < destinations[d].sources.size(); ++s) {
                    index(c, d, static_cast<int>(s), destinations[d].sources[s]);
                }
            }
        }
    }

    std::uint32_t outputCount() override {
        return static_cast<std::uint32_t>(m_setup.outputs.size());
    }
    std::uint32_t inputCount() override {
        return static_cast<std::uint32_t>(m_setup.inputs.size());
    }
    MixerError outputName(std::uint32_t device, std::string& name) override {
        return deviceName(m_setup.outputs, device, name);
    }
    MixerError inputName(std::uint32_t device, std::string& name) override {
        return deviceName(m_setup.inputs, device, name);
    }
    MixerError outputMixer(std::uint32_t device, MixerId& id) override {
        return mixerOf(m_setup.outputs, device, id);
    }
    MixerError inputMixer(std::uint32_t device, MixerId& id) override {
        return mixerOf(m_setup.inputs, device, id);
    }

    MixerError destination(MixerId mixer, ComponentType type, MixerLineInfo& line) override {
        if (mixer >= m_setup.cards.size()) {
            return MixerError::BadDeviceId;
        }
        const auto& destinations = m_setup.cards[mixer].destinations;
        for (std::uint32_t d = 0; d < destinations.size(); ++d) {
            if (destinations[d].type == type) {
                describe(destinations[d], d, -1, line);
                return MixerError::Ok;
            }
        }
        return MixerError::InvalidLine;
    }

    MixerError sourceLine(MixerId mixer, std::uint32_t destination, std::uint32_t source,
                          MixerLineInfo& line) override {
        const VirtualMixerLine* found = lineAt(mixer, destination, static_cast<int>(source));
        if (found == nullptr) {
            return mixer >= m_setup.cards.size() ? MixerError::BadDeviceId
                                                 : MixerError::InvalidLine;
        }
        describe(*found, destination, static_cast<int>(source), line);
        return MixerError::Ok;
    }

    MixerError lineControl(MixerId mixer, std::uint32_t lineId, ControlType type,
                           MixerControlInfo& control) override {
        if (mixer >= m_setup.cards.size()) {
            return MixerError::BadDeviceId;
        }
        for (std::uint32_t id = 1; id <= m_controls.size(); ++id) {
            const ControlRef& ref = m_controls[id - 1];
            if (ref.card == mixer && lineIdOf(ref.destination, ref.source) == lineId &&
                controlAt(ref).type == type) {
                describe(controlAt(ref), id, control);
                return MixerError::Ok;
            }
        }
        return lineAt(mixer, (lineId >> 16) - 1, static_cast<int>(lineId & 0xFFFF) - 1) != nullptr
                   ? MixerError::InvalidControl
                   : MixerError::InvalidLine;
    }

    MixerError controlById(MixerId mixer, std::uint32_t controlId,
                           MixerControlInfo& control) override {
        const VirtualMixerControl* found = controlOf(mixer, controlId);
        if (found == nullptr) {
            return mixer >= m_setup.cards.size() ? MixerError::BadDeviceId
                                                 : MixerError::InvalidControl;
        }
        describe(*found, controlId, control);
        return MixerError::Ok;
    }

    std::uint32_t controlChannels(MixerId mixer, std::uint32_t controlId) override {
        if (controlOf(mixer, controlId) == nullptr) {
            return 0;
        }
        const ControlRef& ref = m_controls[controlId - 1];
        return lineAt(ref.card, ref.destination, ref.source)->channels;
    }

    MixerError getValues(MixerId mixer, std::uint32_t controlId, std::uint32_t channels,
                         std::span<std::uint32_t> values) override {
        VirtualMixerControl* control = controlOf(mixer, controlId);
        if (control->readFails) {
            return MixerError::Error;
        }
        const std::size_t count = isMultipleItem(control->type) ? control->items.size() : channels;
        for (std::size_t i = 0; i < count; ++i) {
            values[i] = i < control->values.size() ? control->values[i] : 0;
        }
        return MixerError::Ok;
    }

    MixerError setValues(MixerId mixer, std::uint32_t controlId, std::uint32_t channels,
                         std::span<const std::uint32_t> values) override {
        VirtualMixerControl* control = controlOf(mixer, controlId);
        const std::size_t count = isMultipleItem(control->type) ? control->items.size()
                                                                : controlChannels(mixer, controlId);
        control->values.resize(count, 0);
        for (std::size_t i = 0; i < count; ++i) {
            // One channel sets every channel alike.
            const std::uint32_t value =
                values[isMultipleItem(control->type) || channels > 1 ? i : 0];
            control->values[i] = std::clamp(value, control->minimum, control->maximum);
        }
        notifyMixerChange(mixer, kMixerControlChangeMessage, controlId);
        return MixerError::Ok;
    }

    MixerError itemTexts(MixerId mixer, std::uint32_t controlId,
                         std::vector<std::string>& texts) override {
        const VirtualMixerControl* control = controlOf(mixer, controlId);
        if (control == nullptr) {
            return MixerError::InvalidControl;
        }
        if (!isMultipleItem(control->type) || control->readFails) {
            return MixerError::Error;
        }
        texts = control->items;
        return MixerError::Ok;
    }

    MixerError opened(MixerId mixer) override {
        if (mixer >= m_setup.cards.size()) {
            return MixerError::BadDeviceId;
        }
        return m_setup.cards[mixer].opens ? MixerError::Ok : MixerError::Error;
    }

    VirtualMixerControl* tagged(const std::string& tag, std::uint32_t* id = nullptr) {
        for (std::uint32_t i = 0; i < m_controls.size(); ++i) {
            if (controlAt(m_controls[i]).tag == tag) {
                if (id != nullptr) {
                    *id = i + 1;
                }
                return &controlAt(m_controls[i]);
            }
        }
        return nullptr;
    }

private:
    void index(std::uint32_t card, std::uint32_t destination, int source,
               const VirtualMixerLine& line) {
        for (std::uint32_t i = 0; i < line.controls.size(); ++i) {
            m_controls.push_back({card, destination, source, i});
        }
    }

    static MixerError deviceName(const std::vector<VirtualWaveDevice>& devices,
                                 std::uint32_t device, std::string& name) {
        if (device >= devices.size() || devices[device].queryFails) {
            return MixerError::BadDeviceId;
        }
        name = devices[device].name;
        return MixerError::Ok;
    }

    MixerError mixerOf(const std::vector<VirtualWaveDevice>& devices, std::uint32_t device,
                       MixerId& id) {
        if (device >= devices.size() || devices[device].card < 0 ||
            static_cast<std::size_t>(devices[device].card) >= m_setup.cards.size()) {
            return MixerError::BadDeviceId;
        }
        id = static_cast<MixerId>(devices[device].card);
        return MixerError::Ok;
    }

    VirtualMixerLine* lineAt(MixerId mixer, std::uint32_t destination, int source) {
        if (mixer >= m_setup.cards.size() ||
            destination >= m_setup.cards[mixer].destinations.size()) {
            return nullptr;
        }
        VirtualMixerLine& line = m_setup.cards[mixer].destinations[destination];
        if (source < 0) {
            return &line;
        }
        return static_cast<std::size_t>(source) < line.sources.size() ? &line.sources[source]
                                                                      : nullptr;
    }

    VirtualMixerControl& controlAt(const ControlRef& ref) {
        return lineAt(ref.card, ref.destination, ref.source)->controls[ref.index];
    }

    VirtualMixerControl* controlOf(MixerId mixer, std::uint32_t controlId) {
        if (controlId == 0 || controlId > m_controls.size() ||
            m_controls[controlId - 1].card != mixer) {
            return nullptr;
        }
        return &controlAt(m_controls[controlId - 1]);
    }

    static void describe(const VirtualMixerLine& from, std::uint32_t destination, int source,
                         MixerLineInfo& line) {
        line.lineId = lineIdOf(destination, source);
        line.destination = destination;
        line.source = source < 0 ? 0 : static_cast<std::uint32_t>(source);
        line.type = from.type;
        line.channels = from.channels;
        line.connections = source < 0 ? static_cast<std::uint32_t>(from.sources.size()) : 0;
        line.shortName = from.shortName;
        line.name = from.name;
    }

    static void describe(const VirtualMixerControl& from, std::uint32_t id,
                         MixerControlInfo& control) {
        control.controlId = id;
        control.type = from.type;
        control.items =
            isMultipleItem(from.type) ? static_cast<std::uint32_t>(from.items.size()) : 0;
        control.minimum = from.minimum;
        control.maximum = from.maximum;
        control.shortName = from.name.substr(0, 15);
        control.name = from.name;
    }

    VirtualMixerSetup m_setup;
    std::vector<ControlRef> m_controls;  // identifier - 1
};

}  // namespace

std::unique_ptr<MixerBackend> makeVirtualMixer(const VirtualMixerSetup& setup) {
    return std::make_unique<VirtualMixer>(setup);
}

std::uint32_t virtualControlId(MixerBackend& backend, const std::string& tag) {
    std::uint32_t id = 0;
    if (auto* mixer = dynamic_cast<VirtualMixer*>(&backend)) {
        mixer->tagged(tag, &id);
    }
    return id;
}

std::vector<std::uint32_t> virtualValues(MixerBackend& backend, const std::string& tag) {
    auto* mixer = dynamic_cast<VirtualMixer*>(&backend);
    const VirtualMixerControl* control = mixer != nullptr ? mixer->tagged(tag) : nullptr;
    return control != nullptr ? control->values : std::vector<std::uint32_t>{};
}

void setVirtualValues(MixerBackend& backend, const std::string& tag,
                      std::vector<std::uint32_t> values) {
    auto* mixer = dynamic_cast<VirtualMixer*>(&backend);
    if (VirtualMixerControl* control = mixer != nullptr ? mixer->tagged(tag) : nullptr) {
        control->values = std::move(values);
    }
}

}  // namespace audio::detail
