// Wave devices on the sound server.

#include "wave_device.h"

namespace platform::detail {
namespace {

class PulseBackend final : public WaveBackend {
public:
    std::vector<std::string> deviceNames(bool) override { return {}; }
    WaveError query(bool, std::int32_t, const WaveFormat&) override { return WaveError::NoDriver; }
    WaveError open(const WaveOpenRequest&, std::unique_ptr<WaveDevice>&) override {
        return WaveError::NoDriver;
    }
};

}  // namespace

std::unique_ptr<WaveBackend> makePulseWaveBackend() { return std::make_unique<PulseBackend>(); }

}  // namespace platform::detail
