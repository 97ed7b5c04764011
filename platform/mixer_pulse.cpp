// The sound server's mixer. Not there yet: no devices, so every selection fails the way
// the mixer library already handles a machine without a sound card.

#include <atomic>

#include "mixer_backend.h"

namespace platform {
namespace {

class NoServerMixer final : public detail::MixerBackend {
public:
    std::uint32_t outputCount() override { return 0; }
    MixerError outputName(std::uint32_t, std::string&) override { return MixerError::BadDeviceId; }
    std::uint32_t inputCount() override { return 0; }
    MixerError inputName(std::uint32_t, std::string&) override { return MixerError::BadDeviceId; }
    MixerError outputMixer(std::uint32_t, MixerId&) override { return MixerError::BadDeviceId; }
    MixerError inputMixer(std::uint32_t, MixerId&) override { return MixerError::BadDeviceId; }
    MixerError destination(MixerId, ComponentType, MixerLineInfo&) override {
        return MixerError::BadDeviceId;
    }
    MixerError sourceLine(MixerId, std::uint32_t, std::uint32_t, MixerLineInfo&) override {
        return MixerError::BadDeviceId;
    }
    MixerError lineControl(MixerId, std::uint32_t, ControlType, MixerControlInfo&) override {
        return MixerError::BadDeviceId;
    }
    MixerError controlById(MixerId, std::uint32_t, MixerControlInfo&) override {
        return MixerError::BadDeviceId;
    }
    MixerError getValues(MixerId, std::uint32_t, std::uint32_t, std::span<std::uint32_t>) override {
        return MixerError::BadDeviceId;
    }
    MixerError setValues(MixerId, std::uint32_t, std::uint32_t, std::span<const std::uint32_t>) override {
        return MixerError::BadDeviceId;
    }
    MixerError itemTexts(MixerId, std::uint32_t, std::vector<std::string>&) override {
        return MixerError::BadDeviceId;
    }
    std::uint32_t controlChannels(MixerId, std::uint32_t) override { return 0; }
};

std::atomic<float> g_waveGain{1.0f};
std::atomic<float> g_synthGain{1.0f};

}  // namespace

float waveOutputGain() noexcept { return g_waveGain.load(std::memory_order_relaxed); }
float synthesizerGain() noexcept { return g_synthGain.load(std::memory_order_relaxed); }
std::string mixerRecordingSource() { return {}; }

namespace detail {
std::unique_ptr<MixerBackend> makeServerMixer() { return std::make_unique<NoServerMixer>(); }
}  // namespace detail

}  // namespace platform
