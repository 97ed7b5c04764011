// The sound server's mixer (PulseAudio's client API; PipeWire's pulse server alike): how
// the server's sinks and sources show as mixer lines and controls.
//
// Output device i is sink i, the default sink first; input device j is source j, the
// default source first, and its mixer is the default sink's. Every mixer shows:
// - the speakers destination: the sink's volume and mute;
// - its "Wave" and synthesizer lines: gains inside this process, because desktop session
//   managers restore per-application stream volumes over whatever a client sets;
// - its "Microphone" line: the pass-through path (pass_through.h), loaded while the line
//   is unmuted and switched on, with its volume;
// - the recording destination: the recording source's volume and mute, a selector listing
//   the server's sources ("Microphone (...)" or, for a sink's monitor, "Stereo Mix (...)"),
//   and a line per source. Selecting a source does not touch the desktop's default: it is
//   what this process records from (mixerRecordingSource).
//
// Reads answer from the model of the server (server_model.h), which the server's change
// events keep current, so what another program changed is what the next read returns; the
// events also become notifications. Control values 0..65535 map linearly onto the server's
// scale from muted to 100 %, which is already perceptual; nothing is ever set above 100 %.
//
// The mixer uses the process's one connection (pulse_context.h) and is its only
// subscriber to the server's events. Its calls wait for the server's answers with the
// mainloop lock let go, so the synthesizer renders on meanwhile.

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "audio/pulse_context.h"
#include "audio/routing.h"
#include "audio/source_roles.h"
#include "mixer_backend.h"
#include "pass_through.h"
#include "platform/midi_device.h"
#include "server_model.h"

namespace audio {
namespace {

using detail::ServerDevice;
using detail::ServerModel;

constexpr std::uint32_t kFull = 65535;
constexpr std::size_t kLineNameMax = 63;

enum Kind : std::uint32_t { kVolume = 1, kMute = 2, kOnOff = 3, kSelector = 4 };
// Lines of a mixer; the recording destination's source lines follow from kFirstSource on,
// one per source name ever seen, so a control's identifier outlives a source's position.
enum LineKey : std::uint32_t {
    kSpeakers = 0,
    kWave = 1,
    kSynth = 2,
    kMic = 3,
    kRecording = 4,
    kFirstSource = 16
};

constexpr std::uint32_t kNoKey = 0xFFFFFFFF;

std::uint32_t controlIdOf(MixerId mixer, std::uint32_t key, Kind kind) {
    return ((mixer + 1) << 20) | (key << 4) | kind;
}

// Rounded up, so that a value read back (rounded down) is the value written.
pa_volume_t toServer(std::uint32_t value) {
    const std::uint64_t v = std::min(value, kFull);
    return static_cast<pa_volume_t>((v * PA_VOLUME_NORM + kFull - 1) / kFull);
}

std::uint32_t fromServer(pa_volume_t volume) {
    if (volume >= PA_VOLUME_NORM) {
        return kFull;
    }
    return static_cast<std::uint32_t>(std::uint64_t{volume} * kFull / PA_VOLUME_NORM);
}

class ServerMixer final : public detail::MixerBackend {
public:
    ServerMixer() = default;
    ServerMixer(const ServerMixer&) = delete;
    ServerMixer& operator=(const ServerMixer&) = delete;

    // The pass-through path never outlives us: unloaded when the process ends normally.
    ~ServerMixer() override {
        if (m_pulse == nullptr) {
            return;
        }
        PulseContext::Lock lock(*m_pulse);
        if (ready()) {
            m_passThrough.unload(*m_pulse);
        }
        m_pulse->clearEventHandler(this);
    }

    std::uint32_t outputCount() override {
        Locked locked(*this);
        return locked.ok && fresh() ? static_cast<std::uint32_t>(model().sinks().size()) : 0;
    }

    std::uint32_t inputCount() override {
        Locked locked(*this);
        return locked.ok && fresh() ? static_cast<std::uint32_t>(model().sources().size()) : 0;
    }

    MixerError outputName(std::uint32_t device, std::string& name) override {
        Locked locked(*this);
        if (!locked.ok || !fresh() || device >= model().sinks().size()) {
            return locked.ok ? MixerError::BadDeviceId : MixerError::NoSoundServer;
        }
        name = model().sinks()[device].description.view();
        return MixerError::Ok;
    }

    MixerError inputName(std::uint32_t device, std::string& name) override {
        Locked locked(*this);
        if (!locked.ok || !fresh() || device >= model().sources().size()) {
            return locked.ok ? MixerError::BadDeviceId : MixerError::NoSoundServer;
        }
        name = model().sources()[device].description.view();
        return MixerError::Ok;
    }

    MixerError outputMixer(std::uint32_t device, MixerId& id) override {
        Locked locked(*this);
        if (!locked.ok || !fresh() || device >= model().sinks().size()) {
            return locked.ok ? MixerError::BadDeviceId : MixerError::NoSoundServer;
        }
        id = mixerOfSink(model().sinks()[device].name.view());
        return MixerError::Ok;
    }

    MixerError inputMixer(std::uint32_t device, MixerId& id) override {
        Locked locked(*this);
        if (!locked.ok || !fresh() || device >= model().sources().size() ||
            model().sinks().empty()) {
            return locked.ok ? MixerError::BadDeviceId : MixerError::NoSoundServer;
        }
        id = mixerOfSink(model().sinks()[0].name.view());
        return MixerError::Ok;
    }

    MixerError destination(MixerId mixer, ComponentType type, MixerLineInfo& line) override {
        Locked locked(*this);
        const ServerDevice* sink = nullptr;
        if (const MixerError error = sinkOf(locked, mixer, sink); error != MixerError::Ok) {
            return error;
        }
        if (type == ComponentType::DstSpeakers) {
            describeLine(line, kSpeakers, 0, 0, type, channelsOf(sink->volume), 3, "Speakers",
                         sink->description.view());
            return MixerError::Ok;
        }
        if (type == ComponentType::DstWaveIn) {
            const ServerDevice* source = recordingSource();
            describeLine(line, kRecording, 1, 0, type,
                         source != nullptr ? channelsOf(source->volume) : 1,
                         static_cast<std::uint32_t>(model().sources().size()), "Recording",
                         "Recording");
            return MixerError::Ok;
        }
        return MixerError::InvalidLine;
    }

    MixerError sourceLine(MixerId mixer, std::uint32_t destination, std::uint32_t source,
                          MixerLineInfo& line) override {
        Locked locked(*this);
        const ServerDevice* sink = nullptr;
        if (const MixerError error = sinkOf(locked, mixer, sink); error != MixerError::Ok) {
            return error;
        }
        if (destination == 0) {
            switch (source) {
                case 0:
                    describeLine(line, kWave, 0, 0, ComponentType::SrcWaveOut, 1, 0, "Wave",
                                 "Wave");
                    return MixerError::Ok;
                case 1:
                    describeLine(line, kSynth, 0, 1, ComponentType::SrcSynthesizer, 1, 0,
                                 "Synthesizer", platform::kBuiltInSynthesizerName);
                    return MixerError::Ok;
                case 2:
                    describeLine(line, kMic, 0, 2, ComponentType::SrcMicrophone, 1, 0, "Microphone",
                                 "Microphone");
                    return MixerError::Ok;
                default:
                    return MixerError::InvalidLine;
            }
        }
        if (destination != 1 || source >= model().sources().size()) {
            return MixerError::InvalidLine;
        }
        const ServerDevice& device = model().sources()[source];
        const SourceRole role = roleOfSource(device.monitor);
        describeLine(line, sourceKey(device.name.view()), 1, source,
                     role == SourceRole::OutputMix ? ComponentType::SrcAnalog
                                                   : ComponentType::SrcMicrophone,
                     channelsOf(device.volume), 0, sourceShortName(role), itemText(device));
        return MixerError::Ok;
    }

    MixerError lineControl(MixerId mixer, std::uint32_t lineId, ControlType type,
                           MixerControlInfo& control) override {
        Locked locked(*this);
        const ServerDevice* sink = nullptr;
        if (const MixerError error = sinkOf(locked, mixer, sink); error != MixerError::Ok) {
            return error;
        }
        const std::uint32_t key = lineId >> 8;
        const Kind kind = kindOf(type);
        if (!hasControl(key, kind)) {
            return key <= kRecording || key - kFirstSource < m_sourceNames.size()
                       ? MixerError::InvalidControl
                       : MixerError::InvalidLine;
        }
        describeControl(control, mixer, key, kind);
        return MixerError::Ok;
    }

    MixerError controlById(MixerId mixer, std::uint32_t controlId,
                           MixerControlInfo& control) override {
        Locked locked(*this);
        const ServerDevice* sink = nullptr;
        std::uint32_t key = 0;
        Kind kind = kVolume;
        if (const MixerError error = controlOf(locked, mixer, controlId, sink, key, kind);
            error != MixerError::Ok) {
            return error;
        }
        describeControl(control, mixer, key, kind);
        return MixerError::Ok;
    }

    std::uint32_t controlChannels(MixerId mixer, std::uint32_t controlId) override {
        Locked locked(*this);
        const ServerDevice* sink = nullptr;
        std::uint32_t key = 0;
        Kind kind = kVolume;
        if (controlOf(locked, mixer, controlId, sink, key, kind) != MixerError::Ok) {
            return 0;
        }
        if (kind != kVolume) {
            return 1;
        }
        const ServerDevice* device = deviceOf(key, sink);
        return device != nullptr ? channelsOf(device->volume) : 1;
    }

    MixerError getValues(MixerId mixer, std::uint32_t controlId, std::uint32_t channels,
                         std::span<std::uint32_t> values) override {
        Locked locked(*this);
        const ServerDevice* sink = nullptr;
        std::uint32_t key = 0;
        Kind kind = kVolume;
        if (const MixerError error = controlOf(locked, mixer, controlId, sink, key, kind);
            error != MixerError::Ok) {
            return error;
        }
        if (kind == kSelector) {
            const ServerDevice* chosen = recordingSource();
            const auto sources = model().sources();
            for (std::size_t i = 0; i < sources.size() && i < values.size(); ++i) {
                values[i] = &sources[i] == chosen ? 1 : 0;
            }
            return MixerError::Ok;
        }
        switch (key) {
            case kWave:
                values[0] = kind == kVolume ? m_waveVolume : m_waveMute;
                return MixerError::Ok;
            case kSynth:
                values[0] = kind == kVolume ? m_synthVolume : m_synthMute;
                return MixerError::Ok;
            case kMic:
                values[0] = kind == kVolume ? m_micVolume : kind == kMute ? m_micMute : m_micOn;
                return MixerError::Ok;
            default:
                break;
        }
        const ServerDevice* device = deviceOf(key, sink);
        if (device == nullptr) {
            return MixerError::Error;
        }
        if (kind == kMute) {
            values[0] = device->mute ? 1 : 0;
        } else {
            for (std::uint32_t c = 0; c < channels; ++c) {
                values[c] = fromServer(
                    device->volume.values[std::min<std::uint32_t>(c, device->volume.channels - 1)]);
            }
        }
        return MixerError::Ok;
    }

    MixerError setValues(MixerId mixer, std::uint32_t controlId, std::uint32_t channels,
                         std::span<const std::uint32_t> values) override {
        Locked locked(*this);
        const ServerDevice* sink = nullptr;
        std::uint32_t key = 0;
        Kind kind = kVolume;
        if (const MixerError error = controlOf(locked, mixer, controlId, sink, key, kind);
            error != MixerError::Ok) {
            return error;
        }
        if (kind == kSelector) {
            return selectSource(values);
        }
        const std::uint32_t value = std::min(values[0], kind == kVolume ? kFull : 1u);
        switch (key) {
            case kWave:
                (kind == kVolume ? m_waveVolume : m_waveMute) = value;
                applyGains();
                notifyAll(controlId);
                return MixerError::Ok;
            case kSynth:
                (kind == kVolume ? m_synthVolume : m_synthMute) = value;
                applyGains();
                notifyAll(controlId);
                return MixerError::Ok;
            case kMic: {
                std::uint32_t& setting = kind == kVolume ? m_micVolume
                                         : kind == kMute ? m_micMute
                                                         : m_micOn;
                const std::uint32_t before = setting;
                setting = value;
                const MixerError result = updatePassThrough(*sink);
                if (result != MixerError::Ok) {
                    // A path that could not be made is not reported as made.
                    setting = before;
                    m_passThrough.unload(*m_pulse);
                    m_micMute = 1;
                }
                notifyAll(controlId);
                return result;
            }
            default:
                break;
        }
        const ServerDevice* device = deviceOf(key, sink);
        if (device == nullptr) {
            return MixerError::Error;
        }
        const bool isSink = key == kSpeakers;
        if (kind == kMute) {
            return model().setMute(*m_pulse, isSink, device->index, value != 0) ? MixerError::Ok
                                                                                 : MixerError::Error;
        }
        pa_cvolume volume = device->volume;
        for (std::uint8_t c = 0; c < volume.channels; ++c) {
            // One value sets every channel alike; two go left and right by turns.
            volume.values[c] = toServer(std::min(channels > 1 ? values[c % 2] : values[0], kFull));
        }
        return model().setVolume(*m_pulse, isSink, device->index, volume) ? MixerError::Ok
                                                                           : MixerError::Error;
    }

    MixerError itemTexts(MixerId mixer, std::uint32_t controlId,
                         std::vector<std::string>& texts) override {
        Locked locked(*this);
        const ServerDevice* sink = nullptr;
        std::uint32_t key = 0;
        Kind kind = kVolume;
        if (const MixerError error = controlOf(locked, mixer, controlId, sink, key, kind);
            error != MixerError::Ok) {
            return error;
        }
        if (kind != kSelector) {
            return MixerError::InvalidControl;
        }
        for (const ServerDevice& source : model().sources()) {
            texts.push_back(itemText(source));
        }
        return MixerError::Ok;
    }

    // The first handle of a mixer: a good time to clear what a crashed run left behind.
    MixerError opened(MixerId mixer) override {
        Locked locked(*this);
        const ServerDevice* sink = nullptr;
        if (const MixerError error = sinkOf(locked, mixer, sink); error != MixerError::Ok) {
            return error;
        }
        m_passThrough.unloadAbandoned(*m_pulse, model());
        return MixerError::Ok;
    }

    void closed(MixerId mixer) override {
        Locked locked(*this);
        if (locked.ok && m_passThrough.loaded() && m_passThrough.mixer() == mixer) {
            m_passThrough.unload(*m_pulse);
            m_micMute = 1;  // what the line reads is what the speakers get
        }
    }

private:
    // Holds the mainloop's lock for one call, connecting first when needed.
    struct Locked {
        explicit Locked(ServerMixer& mixer) : self(mixer) {
            ok = self.connect();
            if (self.m_pulse != nullptr) {
                pa_threaded_mainloop_lock(self.m_pulse->mainloop());
                ok = ok && self.ready();
            }
        }
        ~Locked() {
            if (self.m_pulse != nullptr) {
                pa_threaded_mainloop_unlock(self.m_pulse->mainloop());
            }
        }
        Locked(const Locked&) = delete;
        Locked& operator=(const Locked&) = delete;
        ServerMixer& self;
        bool ok = false;
    };

    bool ready() const { return m_pulse != nullptr && m_pulse->ready(); }
    ServerModel& model() { return *m_model; }
    const ServerModel& model() const { return *m_model; }

    // Takes the process's connection, and a new one after the server went away; follows
    // the server's events on it. Without the lock.
    bool connect() {
        std::shared_ptr<PulseContext> pulse = PulseContext::acquire();
        if (pulse != nullptr && pulse == m_pulse) {
            return true;
        }
        if (m_pulse != nullptr) {
            PulseContext::Lock lock(*m_pulse);
            if (ready()) {
                // Another server now (a test's own): the path goes with the one it was made on.
                m_passThrough.unload(*m_pulse);
            }
            m_pulse->clearEventHandler(this);
        }
        m_pulse.reset();
        m_passThrough.forget();
        m_micMute = 1;
        if (pulse == nullptr) {
            return false;
        }
        PulseContext::Lock lock(*pulse);
        model().forget();
        pulse->setEventHandler(&ServerMixer::onEvent, this);
        const auto mask = static_cast<pa_subscription_mask_t>(
            PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SERVER |
            PA_SUBSCRIPTION_MASK_MODULE | PA_SUBSCRIPTION_MASK_SINK_INPUT);
        m_subscribed = false;
        m_pulse = pulse;
        if (!pulse->complete(pa_context_subscribe(pulse->context(), mask, onSubscribed, this)) ||
            !m_subscribed) {
            m_pulse->clearEventHandler(this);
            m_pulse.reset();  // tried again at the next call
            return false;
        }
        return true;
    }

    // The sinks, sources and defaults as the server has them now: from the model, listed
    // again only where an event said they changed.
    bool fresh() {
        if (!model().refresh(*m_pulse, ServerModel::kDevices)) {
            return false;
        }
        if (model().sourceListings() != m_sourcesNoted) {
            m_sourcesNoted = model().sourceListings();
            for (const ServerDevice& source : model().sources()) {
                sourceKey(source.name.view());
            }
        }
        return true;
    }

    MixerId mixerOfSink(std::string_view name) {
        const auto found = std::find(m_sinkNames.begin(), m_sinkNames.end(), name);
        if (found != m_sinkNames.end()) {
            return static_cast<MixerId>(found - m_sinkNames.begin());
        }
        m_sinkNames.emplace_back(name);
        return static_cast<MixerId>(m_sinkNames.size() - 1);
    }

    std::uint32_t sourceKey(std::string_view name) {
        const std::uint32_t key = knownSourceKey(name);
        if (key != kNoKey) {
            return key;
        }
        m_sourceNames.emplace_back(name);
        return kFirstSource + static_cast<std::uint32_t>(m_sourceNames.size() - 1);
    }

    // Without adding a name: the server's thread asks this.
    std::uint32_t knownSourceKey(std::string_view name) const noexcept {
        const auto found = std::find(m_sourceNames.begin(), m_sourceNames.end(), name);
        return found != m_sourceNames.end()
                   ? kFirstSource + static_cast<std::uint32_t>(found - m_sourceNames.begin())
                   : kNoKey;
    }

    // The sink behind a mixer, as the server has it now.
    MixerError sinkOf(const Locked& locked, MixerId mixer, const ServerDevice*& sink) {
        if (!locked.ok || !fresh()) {
            return MixerError::NoSoundServer;
        }
        if (mixer >= m_sinkNames.size()) {
            return MixerError::BadDeviceId;
        }
        sink = model().sink(m_sinkNames[mixer]);
        return sink != nullptr ? MixerError::Ok : MixerError::BadDeviceId;  // the sink has gone
    }

    // The sink, and what a control identifier names on it; InvalidControl for an
    // identifier that names nothing.
    MixerError controlOf(const Locked& locked, MixerId mixer, std::uint32_t controlId,
                         const ServerDevice*& sink, std::uint32_t& key, Kind& kind) {
        if (const MixerError error = sinkOf(locked, mixer, sink); error != MixerError::Ok) {
            return error;
        }
        return decode(mixer, controlId, key, kind) ? MixerError::Ok : MixerError::InvalidControl;
    }

    // The server's device whose volume and mute a line's controls are: the sink for the
    // speakers, the chosen source for recording, a source for its own line.
    const ServerDevice* deviceOf(std::uint32_t key, const ServerDevice* sink) const {
        if (key == kSpeakers) {
            return sink;
        }
        return key == kRecording ? recordingSource() : sourceByKey(key);
    }

    const ServerDevice* sourceByKey(std::uint32_t key) const {
        if (key < kFirstSource || key - kFirstSource >= m_sourceNames.size()) {
            return nullptr;
        }
        return model().source(m_sourceNames[key - kFirstSource]);
    }

    // The source chosen with the selector; the default source until then, or once it has gone.
    const ServerDevice* recordingSource() const {
        if (const ServerDevice* chosen = model().source(audio::recordingSource())) {
            return chosen;
        }
        return model().sources().empty() ? nullptr : &model().sources()[0];
    }

    static std::string itemText(const ServerDevice& source) {
        return sourceName(roleOfSource(source.monitor), std::string(source.description.view()));
    }

    static std::uint32_t channelsOf(const pa_cvolume& volume) {
        return volume.channels >= 2 ? 2 : 1;
    }

    static Kind kindOf(ControlType type) {
        switch (type) {
            case ControlType::Volume:
                return kVolume;
            case ControlType::Mute:
                return kMute;
            case ControlType::OnOff:
                return kOnOff;
            case ControlType::Mux:
                return kSelector;
            default:
                return Kind{};  // a multiple-select selector: the server's is single-select
        }
    }

    bool hasControl(std::uint32_t key, Kind kind) const {
        if (kind < kVolume || kind > kSelector) {
            return false;
        }
        if (key == kMic) {
            return kind != kSelector;
        }
        if (key == kRecording) {
            return kind != kOnOff;
        }
        if (key >= kFirstSource) {
            return key - kFirstSource < m_sourceNames.size() && (kind == kVolume || kind == kMute);
        }
        return key <= kSynth && (kind == kVolume || kind == kMute);
    }

    bool decode(MixerId mixer, std::uint32_t controlId, std::uint32_t& key, Kind& kind) const {
        if ((controlId >> 20) != mixer + 1) {
            return false;
        }
        key = (controlId >> 4) & 0xFFFF;
        kind = static_cast<Kind>(controlId & 0xF);
        return kind >= kVolume && kind <= kSelector && hasControl(key, kind) &&
               (key < kFirstSource || sourceByKey(key) != nullptr) &&
               (kind != kSelector || key == kRecording);
    }

    void describeLine(MixerLineInfo& line, std::uint32_t key, std::uint32_t destination,
                      std::uint32_t source, ComponentType type, std::uint32_t channels,
                      std::uint32_t connections, std::string_view shortName,
                      std::string_view name) const {
        line.lineId = key << 8;
        line.destination = destination;
        line.source = source;
        line.type = type;
        line.channels = channels;
        line.connections = connections;
        line.shortName = shortName.substr(0, 15);
        line.name = name.substr(0, kLineNameMax);
    }

    void describeControl(MixerControlInfo& control, MixerId mixer, std::uint32_t key,
                         Kind kind) const {
        static constexpr ControlType kTypes[] = {ControlType::Volume, ControlType::Volume,
                                                 ControlType::Mute, ControlType::OnOff,
                                                 ControlType::Mux};
        static constexpr const char* kNames[] = {"", "Volume", "Mute", "Switch", "Select"};
        control.controlId = controlIdOf(mixer, key, kind);
        control.type = kTypes[kind];
        control.items = kind == kSelector ? static_cast<std::uint32_t>(model().sources().size()) : 0;
        control.minimum = 0;
        control.maximum = kind == kVolume ? kFull : 1;
        control.shortName = kNames[kind];
        control.name = kNames[kind];
    }

    void applyGains() {
        audio::setWaveOutputGain(m_waveMute != 0 ? 0.0f : static_cast<float>(m_waveVolume) / kFull);
        audio::setSynthesizerGain(m_synthMute != 0 ? 0.0f : static_cast<float>(m_synthVolume) / kFull);
    }

    void notifyAll(std::uint32_t controlId) {
        detail::notifyMixerChange((controlId >> 20) - 1, kMixerControlChangeMessage, controlId);
    }

    MixerError selectSource(std::span<const std::uint32_t> values) {
        const auto sources = model().sources();
        const auto chosen = std::find(values.begin(), values.end(), 1u);
        if (chosen == values.end() ||
            static_cast<std::size_t>(chosen - values.begin()) >= sources.size()) {
            return MixerError::InvalidValue;
        }
        audio::setRecordingSource(
            std::string(sources[static_cast<std::size_t>(chosen - values.begin())].name.view()));
        // A pass-through that is on follows the new source.
        if (m_passThrough.loaded() && m_passThrough.mixer() < m_sinkNames.size()) {
            if (const ServerDevice* sink = model().sink(m_sinkNames[m_passThrough.mixer()])) {
                m_passThrough.unload(*m_pulse);
                return updatePassThrough(*sink);
            }
        }
        return MixerError::Ok;
    }

    // Loads the pass-through while the microphone line is unmuted and on, unloads it
    // otherwise; sets its volume.
    MixerError updatePassThrough(const ServerDevice& sink) {
        const bool wanted = m_micMute == 0 && m_micOn != 0;
        const MixerId mixer = mixerOfSink(sink.name.view());
        if (!wanted || m_passThrough.mixer() != mixer) {
            m_passThrough.unload(*m_pulse);
        }
        if (!wanted) {
            return MixerError::Ok;
        }
        const ServerDevice* source = recordingSource();
        if (source == nullptr || source->name == sink.monitorSource.view()) {
            return MixerError::Error;  // a sink fed its own monitor would howl
        }
        if (!m_passThrough.loaded() &&
            !m_passThrough.load(*m_pulse, model(), source->name.view(), sink.name.view(), mixer)) {
            return MixerError::Error;
        }
        return m_passThrough.setVolume(*m_pulse, model(), toServer(m_micVolume))
                   ? MixerError::Ok
                   : MixerError::Error;
    }

    // Server callbacks, on the mainloop's thread: no allocation, no lock, nothing that waits.
    static void onSubscribed(pa_context*, int success, void* user) {
        auto* self = static_cast<ServerMixer*>(user);
        self->m_subscribed = success != 0;
        self->m_pulse->signal();
    }

    // A change on the server marks what it concerns stale in the model, and every window
    // with a mixer open hears of it. The identifiers come from what the model knew before
    // the change; the next read asks the server.
    static void onEvent(pa_subscription_event_type_t event, std::uint32_t index, void* user) {
        auto* self = static_cast<ServerMixer*>(user);
        self->model().changed(event);
        const auto facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        const auto type = event & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
        if (facility != PA_SUBSCRIPTION_EVENT_SINK && facility != PA_SUBSCRIPTION_EVENT_SOURCE &&
            facility != PA_SUBSCRIPTION_EVENT_SERVER) {
            return;  // modules and streams: nothing a window shows
        }
        for (MixerId mixer = 0; mixer < self->m_sinkNames.size(); ++mixer) {
            if (type != PA_SUBSCRIPTION_EVENT_CHANGE || facility == PA_SUBSCRIPTION_EVENT_SERVER) {
                // Devices came, went or the defaults moved: the selector's items changed.
                detail::notifyMixerChange(mixer, kMixerLineChangeMessage, kRecording << 8);
                continue;
            }
            if (facility == PA_SUBSCRIPTION_EVENT_SINK) {
                const ServerDevice* sink = self->model().sinkAt(index);
                if (sink != nullptr && sink->name == self->m_sinkNames[mixer]) {
                    detail::notifyMixerChange(mixer, kMixerControlChangeMessage,
                                              controlIdOf(mixer, kSpeakers, kVolume));
                    detail::notifyMixerChange(mixer, kMixerControlChangeMessage,
                                              controlIdOf(mixer, kSpeakers, kMute));
                }
            } else if (const ServerDevice* source = self->model().sourceAt(index)) {
                const std::uint32_t key = self->knownSourceKey(source->name.view());
                if (key != kNoKey) {
                    detail::notifyMixerChange(mixer, kMixerControlChangeMessage,
                                              controlIdOf(mixer, key, kVolume));
                    detail::notifyMixerChange(mixer, kMixerControlChangeMessage,
                                              controlIdOf(mixer, key, kMute));
                }
            }
        }
    }

    std::shared_ptr<PulseContext> m_pulse;  // the caller's thread, without the lock

    // With the mainloop locked (the caller's thread or the mainloop's).
    std::unique_ptr<ServerModel> m_model = std::make_unique<ServerModel>();
    std::vector<std::string> m_sinkNames;    // mixer id -> sink name, never shrinks
    std::vector<std::string> m_sourceNames;  // source key - kFirstSource -> source name
    bool m_subscribed = false;

    // The caller's thread, with the lock held.
    detail::PassThrough m_passThrough;
    std::uint64_t m_sourcesNoted = 0;

    // Our own lines, the caller's thread.
    std::uint32_t m_waveVolume = kFull;
    std::uint32_t m_waveMute = 0;
    std::uint32_t m_synthVolume = kFull;
    std::uint32_t m_synthMute = 0;
    std::uint32_t m_micVolume = kFull;
    std::uint32_t m_micMute = 1;  // no pass-through until asked for
    std::uint32_t m_micOn = 1;
};

}  // namespace

namespace detail {
std::unique_ptr<MixerBackend> makeServerMixer() {
    return std::make_unique<ServerMixer>();
}
}  // namespace detail

}  // namespace audio
