#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "audio/export.h"
#include "platform/messages.h"

// Mixers as the mixer library expects them: a mixer per wave device, destination lines
// found by component type, their source lines, controls by type with identifiers and
// ranges, multi-item selectors, and change notifications posted to a window.
//
// The real mixer is the sound server: output device i is the server's sink i (the default
// sink first), input device j its source j (the default source first). Every mixer has a
// speakers destination (the sink's volume and mute) with the wave, synthesizer and
// microphone pass-through lines as its sources, and a recording destination whose
// selector lists the server's sources. Volumes are 0..65535, muted to 100 % of the
// server's scale; nothing is ever set above 100 %.
//
// Tests install a virtual mixer with whatever lines and controls they need.
namespace audio {

using MixerId = std::uint32_t;
using MixerHandle = std::uint32_t;  // 0 = none

// Posted to a mixer's window: wParam the handle, lParam the line or control identifier.
constexpr std::uint32_t kMixerLineChangeMessage = 0x3D0;
constexpr std::uint32_t kMixerControlChangeMessage = 0x3D1;

enum class ComponentType : std::uint32_t {
    DstSpeakers = 4,
    DstWaveIn = 7,
    SrcLine = 0x1002,
    SrcMicrophone = 0x1003,
    SrcSynthesizer = 0x1004,
    SrcWaveOut = 0x1008,
    SrcAnalog = 0x100A,
};

enum class ControlType : std::uint32_t {
    OnOff = 0x20010001,
    Mute = 0x20010002,
    Volume = 0x50030001,
    Mux = 0x70010001,
    Mixer = 0x71010001,
};

enum class MixerError : std::uint32_t {
    Ok = 0,
    Error = 1,
    BadDeviceId = 2,
    InvalidHandle = 5,
    NoMemory = 7,
    NoSoundServer = 65,
    InvalidLine = 1024,
    InvalidControl = 1025,
    InvalidValue = 1026,
};

struct MixerLineInfo {
    std::uint32_t lineId = 0;
    std::uint32_t destination = 0;  // index of the destination (or of the source's destination)
    std::uint32_t source = 0;       // index among its destination's sources
    ComponentType type = ComponentType::DstSpeakers;
    std::uint32_t channels = 1;
    std::uint32_t connections = 0;  // source lines of a destination
    std::string shortName;
    std::string name;
};

struct MixerControlInfo {
    std::uint32_t controlId = 0;
    ControlType type = ControlType::Volume;
    std::uint32_t items = 0;  // items of a selector; 0 for the others
    std::uint32_t minimum = 0;
    std::uint32_t maximum = 0;
    std::string shortName;
    std::string name;
};

constexpr bool isMultipleItem(ControlType type) {
    return type == ControlType::Mux || type == ControlType::Mixer;
}

CVK_AUDIO_API std::uint32_t mixerOutputDeviceCount();
CVK_AUDIO_API MixerError mixerOutputDeviceName(std::uint32_t device, std::string& name);
CVK_AUDIO_API std::uint32_t mixerInputDeviceCount();
CVK_AUDIO_API MixerError mixerInputDeviceName(std::uint32_t device, std::string& name);
// The mixer of a wave device; BadDeviceId when the device has none.
CVK_AUDIO_API MixerError mixerIdOfOutput(std::uint32_t device, MixerId& id);
CVK_AUDIO_API MixerError mixerIdOfInput(std::uint32_t device, MixerId& id);

CVK_AUDIO_API MixerError mixerDestination(MixerId mixer, ComponentType type,
                                             MixerLineInfo& line);
CVK_AUDIO_API MixerError mixerSourceLine(MixerId mixer, std::uint32_t destination,
                                            std::uint32_t source, MixerLineInfo& line);
CVK_AUDIO_API MixerError mixerLineControl(MixerId mixer, std::uint32_t lineId, ControlType type,
                                             MixerControlInfo& control);
CVK_AUDIO_API MixerError mixerControlById(MixerId mixer, std::uint32_t controlId,
                                             MixerControlInfo& control);

// Values of a control. A selector takes one channel and one value per item. Any other
// control takes 1 channel (a write sets every channel alike, a read gives the first) or
// as many as its line has (InvalidValue beyond that); `values` holds at least that many.
CVK_AUDIO_API MixerError mixerGetValues(MixerId mixer, std::uint32_t controlId,
                                           std::uint32_t channels, std::span<std::uint32_t> values);
CVK_AUDIO_API MixerError mixerSetValues(MixerId mixer, std::uint32_t controlId,
                                           std::uint32_t channels,
                                           std::span<const std::uint32_t> values);
// The item texts of a selector, in item order.
CVK_AUDIO_API MixerError mixerItemTexts(MixerId mixer, std::uint32_t controlId,
                                           std::vector<std::string>& texts);

// Opens a mixer for notifications to `window` (0: none). Closing a handle of a mixer
// also switches its microphone pass-through off.
CVK_AUDIO_API MixerError mixerOpen(MixerHandle& handle, MixerId mixer, platform::WindowHandle window);
CVK_AUDIO_API MixerError mixerClose(MixerHandle handle);

// The microphone is opened only while something records. A mute the recording path needs
// off (the recording source's, its destination's) is registered here instead of being
// switched off at the source's selection; it is switched off while the microphone is held
// and back on when the last hold ends, unless something else switched it meanwhile. So a
// microphone the user muted stays muted while nothing records. Every open wave input holds
// the microphone: recordings and level tests alike. The window's thread.
CVK_AUDIO_API void mixerUnmuteWhileHeld(MixerId mixer, std::uint32_t muteControl);
// Forgets the registered mutes (the source was let go); what a hold switched off is
// switched on again when the hold ends.
CVK_AUDIO_API void mixerForgetHeldMutes();
CVK_AUDIO_API void mixerHoldMicrophone();
CVK_AUDIO_API void mixerReleaseMicrophone();

// The virtual mixer (tests). Control tags name controls for the test's own reads and writes.
struct VirtualMixerControl {
    ControlType type = ControlType::Volume;
    std::string name;
    std::string tag;
    std::uint32_t minimum = 0;
    std::uint32_t maximum = 65535;
    std::vector<std::string> items;     // a selector's item texts
    std::vector<std::uint32_t> values;  // per channel, or per item; zeros when empty
    bool readFails = false;
};

struct VirtualMixerLine {
    ComponentType type = ComponentType::DstSpeakers;
    std::string shortName;
    std::string name;
    std::uint32_t channels = 2;
    std::vector<VirtualMixerControl> controls;
    std::vector<VirtualMixerLine> sources;  // a destination's source lines
};

struct VirtualMixerCard {
    std::vector<VirtualMixerLine> destinations;
    bool opens = true;
};

struct VirtualWaveDevice {
    std::string name;
    int card = 0;  // index into the cards; -1: a device without a mixer
    bool queryFails = false;
};

struct VirtualMixerSetup {
    std::vector<VirtualMixerCard> cards;
    std::vector<VirtualWaveDevice> outputs;
    std::vector<VirtualWaveDevice> inputs;
};

// Replaces the real mixer until useRealMixer(); every earlier handle becomes invalid.
CVK_AUDIO_API void useVirtualMixer(const VirtualMixerSetup& setup);
CVK_AUDIO_API void useRealMixer();
// A tagged control of the virtual mixer: its identifier (0 when there is none), its values.
CVK_AUDIO_API std::uint32_t virtualMixerControlId(const std::string& tag);
CVK_AUDIO_API std::vector<std::uint32_t> virtualMixerValues(const std::string& tag);
CVK_AUDIO_API void setVirtualMixerValues(const std::string& tag,
                                            std::vector<std::uint32_t> values);

}  // namespace audio
