// What the window pays for a mixer call: the time of each call and the round trips to the
// sound server it waits for, median and 90th percentile over many calls.
//
// - master volume read: GetCurrentMasterOutputVolSetting, as the window reads it;
// - input level read: GetCurrentInputLevel;
// - master volume write: SetCurrentMasterOutputVolSetting;
// - read after own write: the read that follows a write;
// - read after another program's change: pactl changes the sink's volume, the change's
//   notification arrives, then the read.
//
//   source scripts/pulse-server.sh && pulse_start
//   build/default/bin/mixer_read [CALLS]

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "TestServer.h"
#include "audio/mixer.h"
#include "audio/pulse_context.h"
#include "faderlib/faderlib.h"
#include "platform/messages.h"
#include "pulse_support.h"

namespace {

struct Figures {
    std::vector<double> micros;
    std::vector<std::uint64_t> trips;
};

template <typename T>
T percentile(std::vector<T> values, double p) {
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

// Runs `prepare` (not measured) then `call` (measured) `count` times.
Figures measure(int count, const std::function<void(int)>& prepare,
                const std::function<void()>& call) {
    Figures figures;
    for (int i = 0; i < count; ++i) {
        prepare(i);
        const std::uint64_t tripsBefore = audio::PulseContext::roundTrips();
        const auto start = std::chrono::steady_clock::now();
        call();
        const auto end = std::chrono::steady_clock::now();
        figures.trips.push_back(audio::PulseContext::roundTrips() - tripsBefore);
        figures.micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    return figures;
}

void print(const char* what, const Figures& f) {
    std::printf("%-40s %9.0f %9.0f %6llu %6llu\n", what, percentile(f.micros, 0.5),
                percentile(f.micros, 0.9), static_cast<unsigned long long>(percentile(f.trips, 0.5)),
                static_cast<unsigned long long>(percentile(f.trips, 0.9)));
}

}  // namespace

int main(int argc, char** argv) {
    if (!testing_support::benchServerGiven("mixer_read")) {
        return 1;
    }
    const int calls = argc > 1 ? std::max(10, std::atoi(argv[1])) : 500;
    platform::MessageQueue window;
    SetCallbackWindow(window.handle());
    if (SelectOutputDevice(0) != 0 || SelectInputDevice(0) != 0 ||
        SelectInputSource(GetMicrophoneSourceIndex()) != 0) {
        std::fprintf(stderr, "mixer_read: the test server's devices cannot be selected\n");
        return 1;
    }
    std::uint32_t values[2] = {};
    const auto none = [](int) {};
    const auto drain = [&] {
        platform::Message message;
        while (window.peek(message)) {
        }
    };

    std::printf("%d calls each\n%-40s %9s %9s %6s %6s\n", calls, "call", "med us", "p90 us",
                "trips", "p90");
    print("master volume read", measure(calls, none, [&] { GetCurrentMasterOutputVolSetting(2, values); }));
    print("input level read", measure(calls, none, [&] { GetCurrentInputLevel(); }));
    print("master volume write", measure(calls, [&](int) { drain(); }, [&] {
        static std::uint32_t level = 30000;
        level = level == 30000 ? 40000 : 30000;
        const std::uint32_t written[2] = {level, level};
        SetCurrentMasterOutputVolSetting(2, written);
    }));
    print("read after own write", measure(calls, [&](int i) {
        const std::uint32_t written[2] = {i % 2 != 0 ? 30000u : 40000u, 0};
        SetCurrentMasterOutputVolSetting(1, written);
    }, [&] { GetCurrentMasterOutputVolSetting(2, values); }));
    // pactl takes tens of milliseconds a run: fewer of these.
    print("read after another program's change", measure(std::max(10, calls / 25), [&](int i) {
        drain();
        cvktest::run(std::string("pactl set-sink-volume speakers ") + (i % 2 != 0 ? "40%" : "60%"));
        platform::Message posted;
        window.wait(posted, 2000);
        drain();
    }, [&] { GetCurrentMasterOutputVolSetting(2, values); }));

    DeSelectInputDevice();
    DeSelectOutputDevice();
    cvktest::run("pactl set-sink-volume speakers 100%");
    return 0;
}
