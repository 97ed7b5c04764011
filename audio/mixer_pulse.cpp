// The sound server's mixer (PulseAudio's client API; PipeWire's pulse server alike).
//
// Output device i is sink i, the default sink first; input device j is source j, the
// default source first, and its mixer is the default sink's. Every mixer shows:
// - the speakers destination: the sink's volume and mute;
// - its "Wave" and synthesizer lines: gains inside this process, because desktop session
//   managers restore per-application stream volumes over whatever a client sets;
// - its "Microphone" line: the pass-through path, a module-loopback from the recording
//   source to the sink, loaded while the line is unmuted and switched on, with its volume;
// - the recording destination: the recording source's volume and mute, a selector listing
//   the server's sources ("Microphone (...)" or, for a sink's monitor, "Stereo Mix (...)"),
//   and a line per source. Selecting a source does not touch the desktop's default: it is
//   what this process records from (mixerRecordingSource).
//
// Values are read from the server at every call, so what another program changed is
// what the next read returns; the server's own change events become notifications.
// Control values 0..65535 map linearly onto the server's scale from muted to 100 %,
// which is already perceptual; nothing is ever set above 100 %.
//
// The mixer uses the process's one connection (pulse_context.h) and is its only
// subscriber to the server's events. Its calls wait for the server's answers with the
// mainloop lock let go, so the synthesizer renders on meanwhile; what it does with the
// lock held is copying a listing.

#include <pulse/pulseaudio.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "audio/pulse_context.h"
#include "audio/routing.h"
#include "audio/source_roles.h"
#include "mixer_backend.h"
#include "platform/midi_device.h"

namespace audio {
namespace {

constexpr std::uint32_t kFull = 65535;
constexpr std::size_t kLineNameMax = 63;
// Marks the pass-through loopbacks we load, with the loading process's id, so that one
// left behind by a run that crashed can be told from another running copy's.
constexpr const char* kPassThroughProperty = "cantivo.pass_through_pid";

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

struct Device {
    std::uint32_t index = 0;
    std::string name;
    std::string description;
    pa_cvolume volume{};
    bool mute = false;
    bool monitor = false;
    std::string monitorSource;  // a sink's monitor
};

struct Module {
    std::uint32_t index = 0;
    std::string name;
    std::string argument;
};

bool processGone(long pid) {
    return pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH);
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
            unloadPassThrough();
        }
        m_pulse->clearEventHandler(this);
    }

    std::uint32_t outputCount() override {
        Locked locked(*this);
        return locked.ok && list() ? static_cast<std::uint32_t>(m_sinks.size()) : 0;
    }

    std::uint32_t inputCount() override {
        Locked locked(*this);
        return locked.ok && list() ? static_cast<std::uint32_t>(m_sources.size()) : 0;
    }

    MixerError outputName(std::uint32_t device, std::string& name) override {
        Locked locked(*this);
        if (!locked.ok || !list() || device >= m_sinks.size()) {
            return locked.ok ? MixerError::BadDeviceId : MixerError::NoSoundServer;
        }
        name = m_sinks[device].description;
        return MixerError::Ok;
    }

    MixerError inputName(std::uint32_t device, std::string& name) override {
        Locked locked(*this);
        if (!locked.ok || !list() || device >= m_sources.size()) {
            return locked.ok ? MixerError::BadDeviceId : MixerError::NoSoundServer;
        }
        name = m_sources[device].description;
        return MixerError::Ok;
    }

    MixerError outputMixer(std::uint32_t device, MixerId& id) override {
        Locked locked(*this);
        if (!locked.ok || !list() || device >= m_sinks.size()) {
            return locked.ok ? MixerError::BadDeviceId : MixerError::NoSoundServer;
        }
        id = mixerOfSink(m_sinks[device].name);
        return MixerError::Ok;
    }

    MixerError inputMixer(std::uint32_t device, MixerId& id) override {
        Locked locked(*this);
        if (!locked.ok || !list() || device >= m_sources.size() || m_sinks.empty()) {
            return locked.ok ? MixerError::BadDeviceId : MixerError::NoSoundServer;
        }
        id = mixerOfSink(m_sinks[0].name);
        return MixerError::Ok;
    }

    MixerError destination(MixerId mixer, ComponentType type, MixerLineInfo& line) override {
        Locked locked(*this);
        const Device* sink = nullptr;
        if (const MixerError error = sinkOf(locked, mixer, sink); error != MixerError::Ok) {
            return error;
        }
        if (type == ComponentType::DstSpeakers) {
            describeLine(line, kSpeakers, 0, 0, type, channelsOf(sink->volume), 3, "Speakers",
                         sink->description);
            return MixerError::Ok;
        }
        if (type == ComponentType::DstWaveIn) {
            const Device* source = recordingSource();
            describeLine(line, kRecording, 1, 0, type,
                         source != nullptr ? channelsOf(source->volume) : 1,
                         static_cast<std::uint32_t>(m_sources.size()), "Recording", "Recording");
            return MixerError::Ok;
        }
        return MixerError::InvalidLine;
    }

    MixerError sourceLine(MixerId mixer, std::uint32_t destination, std::uint32_t source,
                          MixerLineInfo& line) override {
        Locked locked(*this);
        const Device* sink = nullptr;
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
        if (destination != 1 || source >= m_sources.size()) {
            return MixerError::InvalidLine;
        }
        const Device& device = m_sources[source];
        const SourceRole role = roleOfSource(device.monitor);
        describeLine(line, sourceKey(device.name), 1, source,
                     role == SourceRole::OutputMix ? ComponentType::SrcAnalog
                                                   : ComponentType::SrcMicrophone,
                     channelsOf(device.volume), 0, sourceShortName(role), itemText(device));
        return MixerError::Ok;
    }

    MixerError lineControl(MixerId mixer, std::uint32_t lineId, ControlType type,
                           MixerControlInfo& control) override {
        Locked locked(*this);
        const Device* sink = nullptr;
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
        const Device* sink = nullptr;
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
        const Device* sink = nullptr;
        std::uint32_t key = 0;
        Kind kind = kVolume;
        if (controlOf(locked, mixer, controlId, sink, key, kind) != MixerError::Ok) {
            return 0;
        }
        if (kind != kVolume) {
            return 1;
        }
        const Device* device = deviceOf(key, sink);
        return device != nullptr ? channelsOf(device->volume) : 1;
    }

    MixerError getValues(MixerId mixer, std::uint32_t controlId, std::uint32_t channels,
                         std::span<std::uint32_t> values) override {
        Locked locked(*this);
        const Device* sink = nullptr;
        std::uint32_t key = 0;
        Kind kind = kVolume;
        if (const MixerError error = controlOf(locked, mixer, controlId, sink, key, kind);
            error != MixerError::Ok) {
            return error;
        }
        if (kind == kSelector) {
            const Device* chosen = recordingSource();
            for (std::size_t i = 0; i < m_sources.size() && i < values.size(); ++i) {
                values[i] = &m_sources[i] == chosen ? 1 : 0;
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
        const Device* device = deviceOf(key, sink);
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
        const Device* sink = nullptr;
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
                    unloadPassThrough();
                    m_micMute = 1;
                }
                notifyAll(controlId);
                return result;
            }
            default:
                break;
        }
        const Device* device = deviceOf(key, sink);
        if (device == nullptr) {
            return MixerError::Error;
        }
        const bool isSink = key == kSpeakers;
        pa_operation* operation = nullptr;
        if (kind == kMute) {
            operation = isSink ? pa_context_set_sink_mute_by_index(context(), device->index,
                                                                   value != 0, onSuccess, this)
                               : pa_context_set_source_mute_by_index(context(), device->index,
                                                                     value != 0, onSuccess, this);
        } else {
            pa_cvolume volume = device->volume;
            for (std::uint8_t c = 0; c < volume.channels; ++c) {
                // One value sets every channel alike; two go left and right by turns.
                volume.values[c] =
                    toServer(std::min(channels > 1 ? values[c % 2] : values[0], kFull));
            }
            operation = isSink ? pa_context_set_sink_volume_by_index(context(), device->index,
                                                                     &volume, onSuccess, this)
                               : pa_context_set_source_volume_by_index(context(), device->index,
                                                                       &volume, onSuccess, this);
        }
        return complete(operation) && m_success ? MixerError::Ok : MixerError::Error;
    }

    MixerError itemTexts(MixerId mixer, std::uint32_t controlId,
                         std::vector<std::string>& texts) override {
        Locked locked(*this);
        const Device* sink = nullptr;
        std::uint32_t key = 0;
        Kind kind = kVolume;
        if (const MixerError error = controlOf(locked, mixer, controlId, sink, key, kind);
            error != MixerError::Ok) {
            return error;
        }
        if (kind != kSelector) {
            return MixerError::InvalidControl;
        }
        for (const Device& source : m_sources) {
            texts.push_back(itemText(source));
        }
        return MixerError::Ok;
    }

    // The first handle of a mixer: a good time to clear what a crashed run left behind.
    MixerError opened(MixerId mixer) override {
        Locked locked(*this);
        const Device* sink = nullptr;
        if (const MixerError error = sinkOf(locked, mixer, sink); error != MixerError::Ok) {
            return error;
        }
        unloadAbandoned();
        return MixerError::Ok;
    }

    void closed(MixerId mixer) override {
        Locked locked(*this);
        if (locked.ok && m_passThroughMixer == mixer && m_passThroughModule != PA_INVALID_INDEX) {
            unloadPassThrough();
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
    pa_context* context() const { return m_pulse->context(); }

    // Takes the process's connection, and a new one after the server went away; follows
    // the server's events on it. Without the lock.
    bool connect() {
        std::shared_ptr<PulseContext> pulse = PulseContext::acquire();
        if (pulse != nullptr && pulse == m_pulse) {
            return true;
        }
        bool serverLost = false;
        if (m_pulse != nullptr) {
            PulseContext::Lock lock(*m_pulse);
            serverLost = !ready();
            m_pulse->clearEventHandler(this);
        }
        m_pulse.reset();
        if (serverLost) {
            // The server took our pass-through with it, or has it still when only the
            // connection broke: unloadAbandoned finds it by our mark. Its index means
            // nothing to a server started again, and unloading by it could take another's.
            m_passThroughModule = PA_INVALID_INDEX;
            m_micMute = 1;
        }
        if (pulse == nullptr) {
            return false;
        }
        PulseContext::Lock lock(*pulse);
        pulse->setEventHandler(&ServerMixer::onEvent, this);
        const auto mask = static_cast<pa_subscription_mask_t>(
            PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SERVER);
        m_pulse = pulse;
        if (!complete(pa_context_subscribe(context(), mask, onSuccess, this))) {
            m_pulse->clearEventHandler(this);
            m_pulse.reset();  // tried again at the next call
            return false;
        }
        return true;
    }

    // Runs an operation to its end (or gives up on a server that stopped answering).
    bool complete(pa_operation* operation) {
        m_success = false;
        return m_pulse->complete(operation);
    }

    // Reads the sinks, sources and defaults afresh; default first, server order after.
    bool list() {
        m_readSinks.clear();
        m_readSources.clear();
        if (!complete(pa_context_get_server_info(context(), onServer, this)) ||
            !complete(pa_context_get_sink_info_list(context(), onSink, this)) ||
            !complete(pa_context_get_source_info_list(context(), onSource, this))) {
            return false;
        }
        const auto defaultFirst = [](std::vector<Device>& devices, const std::string& name) {
            std::stable_partition(devices.begin(), devices.end(),
                                  [&](const Device& d) { return d.name == name; });
        };
        defaultFirst(m_readSinks, m_defaultSink);
        defaultFirst(m_readSources, m_defaultSource);
        m_sinks = m_readSinks;
        m_sources = m_readSources;
        for (const Device& source : m_sources) {
            sourceKey(source.name);
        }
        return true;
    }

    MixerId mixerOfSink(const std::string& name) {
        const auto found = std::find(m_sinkNames.begin(), m_sinkNames.end(), name);
        if (found != m_sinkNames.end()) {
            return static_cast<MixerId>(found - m_sinkNames.begin());
        }
        m_sinkNames.push_back(name);
        return static_cast<MixerId>(m_sinkNames.size() - 1);
    }

    std::uint32_t sourceKey(const std::string& name) {
        const auto found = std::find(m_sourceNames.begin(), m_sourceNames.end(), name);
        if (found != m_sourceNames.end()) {
            return kFirstSource + static_cast<std::uint32_t>(found - m_sourceNames.begin());
        }
        m_sourceNames.push_back(name);
        return kFirstSource + static_cast<std::uint32_t>(m_sourceNames.size() - 1);
    }

    // The sink behind a mixer, as the server has it now.
    MixerError sinkOf(const Locked& locked, MixerId mixer, const Device*& sink) {
        if (!locked.ok || !list()) {
            return MixerError::NoSoundServer;
        }
        if (mixer >= m_sinkNames.size()) {
            return MixerError::BadDeviceId;
        }
        for (const Device& device : m_sinks) {
            if (device.name == m_sinkNames[mixer]) {
                sink = &device;
                return MixerError::Ok;
            }
        }
        return MixerError::BadDeviceId;  // the sink has gone
    }

    // The sink, and what a control identifier names on it; InvalidControl for an
    // identifier that names nothing.
    MixerError controlOf(const Locked& locked, MixerId mixer, std::uint32_t controlId,
                         const Device*& sink, std::uint32_t& key, Kind& kind) {
        if (const MixerError error = sinkOf(locked, mixer, sink); error != MixerError::Ok) {
            return error;
        }
        return decode(mixer, controlId, key, kind) ? MixerError::Ok : MixerError::InvalidControl;
    }

    // The server's device whose volume and mute a line's controls are: the sink for the
    // speakers, the chosen source for recording, a source for its own line.
    const Device* deviceOf(std::uint32_t key, const Device* sink) const {
        if (key == kSpeakers) {
            return sink;
        }
        return key == kRecording ? recordingSource() : sourceByKey(key);
    }

    const Device* sourceByKey(std::uint32_t key) const {
        if (key < kFirstSource || key - kFirstSource >= m_sourceNames.size()) {
            return nullptr;
        }
        for (const Device& source : m_sources) {
            if (source.name == m_sourceNames[key - kFirstSource]) {
                return &source;
            }
        }
        return nullptr;
    }

    // The source chosen with the selector; the default source until then, or once it has gone.
    const Device* recordingSource() const {
        const std::string chosen = audio::recordingSource();
        for (const Device& source : m_sources) {
            if (source.name == chosen) {
                return &source;
            }
        }
        return m_sources.empty() ? nullptr : &m_sources[0];
    }

    static std::string itemText(const Device& source) {
        return sourceName(roleOfSource(source.monitor), source.description);
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
                      std::uint32_t connections, const std::string& shortName,
                      const std::string& name) const {
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
        control.items = kind == kSelector ? static_cast<std::uint32_t>(m_sources.size()) : 0;
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
        const auto chosen = std::find(values.begin(), values.end(), 1u);
        if (chosen == values.end() ||
            static_cast<std::size_t>(chosen - values.begin()) >= m_sources.size()) {
            return MixerError::InvalidValue;
        }
        audio::setRecordingSource(m_sources[static_cast<std::size_t>(chosen - values.begin())].name);
        // A pass-through that is on follows the new source.
        if (m_passThroughModule != PA_INVALID_INDEX && m_passThroughMixer < m_sinkNames.size()) {
            for (const Device& sink : m_sinks) {
                if (sink.name == m_sinkNames[m_passThroughMixer]) {
                    unloadPassThrough();
                    return updatePassThrough(sink);
                }
            }
        }
        return MixerError::Ok;
    }

    // Loads the pass-through while the microphone line is unmuted and on, unloads it
    // otherwise; sets its volume.
    MixerError updatePassThrough(const Device& sink) {
        const bool wanted = m_micMute == 0 && m_micOn != 0;
        const MixerId mixer = mixerOfSink(sink.name);
        if (!wanted || m_passThroughMixer != mixer) {
            unloadPassThrough();
        }
        if (!wanted) {
            return MixerError::Ok;
        }
        const Device* source = recordingSource();
        if (source == nullptr || source->name == sink.monitorSource) {
            return MixerError::Error;  // a sink fed its own monitor would howl
        }
        if (m_passThroughModule == PA_INVALID_INDEX) {
            const std::string arguments =
                "source=" + source->name + " sink=" + sink.name +
                " latency_msec=20 source_dont_move=true sink_dont_move=true"
                " sink_input_properties=" +
                kPassThroughProperty + "=" + std::to_string(::getpid());
            m_loaded = PA_INVALID_INDEX;
            if (!complete(pa_context_load_module(context(), "module-loopback", arguments.c_str(),
                                                 onLoaded, this)) ||
                m_loaded == PA_INVALID_INDEX) {
                return MixerError::Error;
            }
            m_passThroughModule = m_loaded;
            m_passThroughMixer = mixer;
        }
        // Its volume is that of the stream the loopback plays into the sink.
        m_loopbackInput = PA_INVALID_INDEX;
        m_loopbackChannels = 0;
        if (!complete(pa_context_get_sink_input_info_list(context(), onSinkInput, this)) ||
            m_loopbackInput == PA_INVALID_INDEX) {
            return MixerError::Error;
        }
        pa_cvolume volume;
        pa_cvolume_set(&volume, m_loopbackChannels, toServer(m_micVolume));
        return complete(pa_context_set_sink_input_volume(context(), m_loopbackInput, &volume,
                                                         onSuccess, this)) &&
                       m_success
                   ? MixerError::Ok
                   : MixerError::Error;
    }

    void unloadPassThrough() {
        if (m_passThroughModule != PA_INVALID_INDEX) {
            complete(pa_context_unload_module(context(), m_passThroughModule, onSuccess, this));
            m_passThroughModule = PA_INVALID_INDEX;
        }
    }

    // Pass-through loopbacks whose process has ended: a crash of ours left them playing.
    void unloadAbandoned() {
        m_modules.clear();
        if (!complete(pa_context_get_module_info_list(context(), onModule, this))) {
            return;
        }
        const std::string mark = std::string(kPassThroughProperty) + "=";
        for (const Module& module : m_modules) {
            const std::size_t at = module.argument.find(mark);
            if (module.name != "module-loopback" || at == std::string::npos ||
                module.index == m_passThroughModule) {
                continue;
            }
            const long pid = std::strtol(module.argument.c_str() + at + mark.size(), nullptr, 10);
            if (pid == ::getpid() || processGone(pid)) {
                complete(pa_context_unload_module(context(), module.index, onSuccess, this));
            }
        }
    }

    // Server callbacks, on the mainloop's thread.
    static void onSuccess(pa_context*, int success, void* user) {
        auto* self = static_cast<ServerMixer*>(user);
        self->m_success = success != 0;
        self->m_pulse->signal();
    }

    static void onLoaded(pa_context*, std::uint32_t index, void* user) {
        auto* self = static_cast<ServerMixer*>(user);
        self->m_loaded = index;
        self->m_pulse->signal();
    }

    static void onServer(pa_context*, const pa_server_info* info, void* user) {
        auto* self = static_cast<ServerMixer*>(user);
        if (info != nullptr) {
            self->m_defaultSink = info->default_sink_name != nullptr ? info->default_sink_name : "";
            self->m_defaultSource =
                info->default_source_name != nullptr ? info->default_source_name : "";
        }
        self->m_pulse->signal();
    }

    // What sinks and sources say alike.
    template <typename Info>
    static Device describedDevice(const Info& info) {
        Device device;
        device.index = info.index;
        device.name = info.name;
        device.description = info.description != nullptr ? info.description : info.name;
        device.volume = info.volume;
        device.mute = info.mute != 0;
        return device;
    }

    static void onSink(pa_context*, const pa_sink_info* info, int, void* user) {
        auto* self = static_cast<ServerMixer*>(user);
        if (info != nullptr) {
            Device device = describedDevice(*info);
            device.monitorSource =
                info->monitor_source_name != nullptr ? info->monitor_source_name : "";
            self->m_readSinks.push_back(std::move(device));
        }
        self->m_pulse->signal();
    }

    static void onSource(pa_context*, const pa_source_info* info, int, void* user) {
        auto* self = static_cast<ServerMixer*>(user);
        if (info != nullptr) {
            Device device = describedDevice(*info);
            device.monitor = info->monitor_of_sink != PA_INVALID_INDEX;
            self->m_readSources.push_back(std::move(device));
        }
        self->m_pulse->signal();
    }

    static void onSinkInput(pa_context*, const pa_sink_input_info* info, int, void* user) {
        auto* self = static_cast<ServerMixer*>(user);
        if (info != nullptr && info->owner_module == self->m_passThroughModule) {
            self->m_loopbackInput = info->index;
            self->m_loopbackChannels = info->volume.channels;
        }
        self->m_pulse->signal();
    }

    static void onModule(pa_context*, const pa_module_info* info, int, void* user) {
        auto* self = static_cast<ServerMixer*>(user);
        if (info != nullptr) {
            self->m_modules.push_back({info->index, info->name != nullptr ? info->name : "",
                                       info->argument != nullptr ? info->argument : ""});
        }
        self->m_pulse->signal();
    }

    // Another program changed a sink or source: every window with a mixer open hears of it.
    // The identifiers come from what the last listing knew; the next read asks the server.
    static void onEvent(pa_subscription_event_type_t event, std::uint32_t index, void* user) {
        auto* self = static_cast<ServerMixer*>(user);
        const auto facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        const auto type = event & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
        for (MixerId mixer = 0; mixer < self->m_sinkNames.size(); ++mixer) {
            if (type != PA_SUBSCRIPTION_EVENT_CHANGE || facility == PA_SUBSCRIPTION_EVENT_SERVER) {
                // Devices came, went or the defaults moved: the selector's items changed.
                detail::notifyMixerChange(mixer, kMixerLineChangeMessage, kRecording << 8);
                continue;
            }
            if (facility == PA_SUBSCRIPTION_EVENT_SINK) {
                for (const Device& sink : self->m_sinks) {
                    if (sink.index == index && sink.name == self->m_sinkNames[mixer]) {
                        detail::notifyMixerChange(mixer, kMixerControlChangeMessage,
                                                  controlIdOf(mixer, kSpeakers, kVolume));
                        detail::notifyMixerChange(mixer, kMixerControlChangeMessage,
                                                  controlIdOf(mixer, kSpeakers, kMute));
                    }
                }
            } else if (facility == PA_SUBSCRIPTION_EVENT_SOURCE) {
                for (const Device& source : self->m_sources) {
                    if (source.index == index) {
                        const std::uint32_t key = self->sourceKey(source.name);
                        detail::notifyMixerChange(mixer, kMixerControlChangeMessage,
                                                  controlIdOf(mixer, key, kVolume));
                        detail::notifyMixerChange(mixer, kMixerControlChangeMessage,
                                                  controlIdOf(mixer, key, kMute));
                    }
                }
            }
        }
    }

    std::shared_ptr<PulseContext> m_pulse;  // the caller's thread, without the lock

    // With the mainloop locked (the caller's thread or the mainloop's).
    std::vector<Device> m_sinks;
    std::vector<Device> m_sources;
    std::vector<Device> m_readSinks;
    std::vector<Device> m_readSources;
    std::vector<Module> m_modules;
    std::string m_defaultSink;
    std::string m_defaultSource;
    std::vector<std::string> m_sinkNames;    // mixer id -> sink name, never shrinks
    std::vector<std::string> m_sourceNames;  // source key - kFirstSource -> source name
    bool m_success = false;
    std::uint32_t m_loaded = PA_INVALID_INDEX;
    std::uint32_t m_loopbackInput = PA_INVALID_INDEX;
    std::uint8_t m_loopbackChannels = 0;

    // Our own lines, the caller's thread.
    std::uint32_t m_waveVolume = kFull;
    std::uint32_t m_waveMute = 0;
    std::uint32_t m_synthVolume = kFull;
    std::uint32_t m_synthMute = 0;
    std::uint32_t m_micVolume = kFull;
    std::uint32_t m_micMute = 1;  // no pass-through until asked for
    std::uint32_t m_micOn = 1;
    std::uint32_t m_passThroughModule = PA_INVALID_INDEX;
    MixerId m_passThroughMixer = 0;
};

}  // namespace

namespace detail {
std::unique_ptr<MixerBackend> makeServerMixer() {
    return std::make_unique<ServerMixer>();
}
}  // namespace detail

}  // namespace audio
