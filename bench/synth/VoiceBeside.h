#pragma once

// A voice at work beside the synthesizer, on a thread of its own that plays the window's
// part while recording: a wave output at the echo monitor's 20 ms latency, each done
// buffer refilled with a tone, and, when asked, the mixer's master volume read every
// 20 ms. The voice plays into the "Microphone" sink, so the speakers' monitor hears the
// synthesizer alone. Shared by the synthesizer's benchmarks.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <vector>

#include "audio/mixer.h"
#include "audio/wave_out.h"
#include "platform/messages.h"
#include "platform/mm_timer.h"

namespace bench {

class VoiceBeside {
public:
    explicit VoiceBeside(bool readMixer) : m_readMixer(readMixer), m_thread([this] { run(); }) {}
    ~VoiceBeside() { stop(); }
    VoiceBeside(const VoiceBeside&) = delete;
    VoiceBeside& operator=(const VoiceBeside&) = delete;

    // Closes the voice; the figures below are final from here on.
    void stop() {
        m_stop.store(true);
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

    bool played() const { return m_opened.load(); }
    // Times the voice's stream ran dry while it played.
    std::uint64_t underruns() const { return m_underruns.load(); }
    std::uint32_t mixerReads() const { return m_reads.load(); }

private:
    void run() {
        platform::MessageQueue window;
        audio::WaveFormat format;  // 22050 Hz, 16-bit, mono
        std::int32_t device = audio::kWaveMapper;
        for (std::uint32_t i = 0; i < audio::waveOutDeviceCount(); ++i) {
            if (audio::waveOutDeviceName(i) == "Microphone") {
                device = static_cast<std::int32_t>(i);
            }
        }
        audio::WaveOutHandle out = 0;
        if (audio::waveOutOpen(&out, device, format, window.handle(),
                                  audio::kWaveOutMonitorLatencyMs) != audio::WaveError::Ok) {
            std::fprintf(stderr, "voice beside the synthesizer: no wave output\n");
            return;
        }
        m_opened.store(true);
        constexpr std::size_t kFrames = 220;  // 10 ms
        std::vector<std::vector<std::int16_t>> data(4, std::vector<std::int16_t>(kFrames));
        std::vector<audio::WaveHeader> headers(4);
        std::size_t phase = 0;
        auto refill = [&](audio::WaveHeader& header, std::vector<std::int16_t>& samples) {
            for (std::int16_t& sample : samples) {
                sample = static_cast<std::int16_t>(phase++ % 50 < 25 ? 2000 : -2000);
            }
            header.lpData = reinterpret_cast<char*>(samples.data());
            header.dwBufferLength = static_cast<std::uint32_t>(samples.size() * 2);
            audio::waveOutWrite(out, &header);
        };
        for (std::size_t i = 0; i < headers.size(); ++i) {
            audio::waveOutPrepareHeader(out, &headers[i]);
            refill(headers[i], data[i]);
        }
        audio::MixerId mixer = 0;
        audio::MixerLineInfo line;
        audio::MixerControlInfo control;
        const bool mixing =
            m_readMixer && audio::mixerIdOfOutput(0, mixer) == audio::MixerError::Ok &&
            audio::mixerDestination(mixer, audio::ComponentType::DstSpeakers, line) ==
                audio::MixerError::Ok &&
            audio::mixerLineControl(mixer, line.lineId, audio::ControlType::Volume,
                                       control) == audio::MixerError::Ok;
        std::uint64_t nextRead = platform::clockMicros();
        while (!m_stop.load()) {
            platform::Message m;
            if (window.wait(m, 5) && m.message == audio::kWaveOutDoneMessage) {
                for (std::size_t i = 0; i < headers.size(); ++i) {
                    if (reinterpret_cast<audio::WaveHeader*>(m.lParam) == &headers[i]) {
                        refill(headers[i], data[i]);
                    }
                }
            }
            if (mixing && platform::clockMicros() >= nextRead) {
                std::uint32_t volume[1] = {};
                audio::mixerGetValues(mixer, control.controlId, 1, volume);
                m_reads.fetch_add(1);
                nextRead += 20'000;
            }
        }
        m_underruns.store(audio::waveOutUnderruns(out));
        audio::waveOutReset(out);
        for (audio::WaveHeader& header : headers) {
            audio::waveOutUnprepareHeader(out, &header);
        }
        audio::waveOutClose(out);
    }

    const bool m_readMixer;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_opened{false};
    std::atomic<std::uint64_t> m_underruns{0};
    std::atomic<std::uint32_t> m_reads{0};
    std::thread m_thread;  // last: starts once everything it uses is there
};

}  // namespace bench
