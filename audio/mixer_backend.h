#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "audio/mixer.h"

// What a mixer backend (the sound server, the virtual mixer) provides to mixer.cpp, which
// keeps the open handles and routes each call to the backend in use.
namespace audio::detail {

class MixerBackend {
public:
    virtual ~MixerBackend() = default;

    virtual std::uint32_t outputCount() = 0;
    virtual MixerError outputName(std::uint32_t device, std::string& name) = 0;
    virtual std::uint32_t inputCount() = 0;
    virtual MixerError inputName(std::uint32_t device, std::string& name) = 0;
    virtual MixerError outputMixer(std::uint32_t device, MixerId& id) = 0;
    virtual MixerError inputMixer(std::uint32_t device, MixerId& id) = 0;

    virtual MixerError destination(MixerId mixer, ComponentType type, MixerLineInfo& line) = 0;
    virtual MixerError sourceLine(MixerId mixer, std::uint32_t destination, std::uint32_t source,
                                  MixerLineInfo& line) = 0;
    virtual MixerError lineControl(MixerId mixer, std::uint32_t lineId, ControlType type,
                                   MixerControlInfo& control) = 0;
    virtual MixerError controlById(MixerId mixer, std::uint32_t controlId,
                                   MixerControlInfo& control) = 0;
    // Channel counts and value spans are already checked against the control.
    virtual MixerError getValues(MixerId mixer, std::uint32_t controlId, std::uint32_t channels,
                                 std::span<std::uint32_t> values) = 0;
    virtual MixerError setValues(MixerId mixer, std::uint32_t controlId, std::uint32_t channels,
                                 std::span<const std::uint32_t> values) = 0;
    virtual MixerError itemTexts(MixerId mixer, std::uint32_t controlId,
                                 std::vector<std::string>& texts) = 0;
    // Channels of the line a control belongs to (0 when there is no such control).
    virtual std::uint32_t controlChannels(MixerId mixer, std::uint32_t controlId) = 0;

    // The first handle of a mixer opens; any handle of it closes.
    virtual MixerError opened(MixerId) { return MixerError::Ok; }
    virtual void closed(MixerId) {}
};

// Posts a change of a line or control to every window that has the mixer open. Any thread.
void notifyMixerChange(MixerId mixer, std::uint32_t message, std::uint32_t id);

std::unique_ptr<MixerBackend> makeVirtualMixer(const VirtualMixerSetup& setup);
std::unique_ptr<MixerBackend> makeServerMixer();

// The tagged controls of a virtual mixer; nothing for another backend.
std::uint32_t virtualControlId(MixerBackend& backend, const std::string& tag);
std::vector<std::uint32_t> virtualValues(MixerBackend& backend, const std::string& tag);
void setVirtualValues(MixerBackend& backend, const std::string& tag,
                      std::vector<std::uint32_t> values);

}  // namespace audio::detail
