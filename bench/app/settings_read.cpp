// The read the window's 50 ms timer makes on every tick: the settings folder, then the
// audio wizard's key in a settings file as full as a long-used one.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "Cantivo.h"
#include "TempDir.h"
#include "platform/profile.h"

namespace {

testing_support::TempDir& folder() {
    static testing_support::TempDir dir;
    return dir;
}

void prepare() {
    setenv("XDG_CONFIG_HOME", folder().path("config").c_str(), 1);
    const std::string ini = cvkapp::TCantivo::IniPath();
    // Recent files, font, devices, preferences: about what months of use leave behind.
    for (int i = 0; i < 5; ++i) {
        platform::profileWriteString("Most Recently Used Files", "mru" + std::to_string(i),
                                     "/home/singer/Music/karaoke/a rather long song name " +
                                         std::to_string(i) + ".kar",
                                     ini);
    }
    for (const char* key : {"Font_Size", "Font_Color", "Font Name", "Font_Style", "Char_Set"}) {
        platform::profileWriteString("FONT", key, "16", ini);
    }
    for (int i = 0; i < 12; ++i) {
        platform::profileWriteString("Configuration", "Setting " + std::to_string(i), "1", ini);
    }
    platform::profileWriteString("Configuration", "RunConfigWizard", "0", ini);
}

void BM_SettingsFolder(benchmark::State& state) {
    prepare();
    for (auto _ : state) {
        benchmark::DoNotOptimize(cvkapp::TCantivo::IniPath());
    }
}
BENCHMARK(BM_SettingsFolder);

void BM_TimerSettingsRead(benchmark::State& state) {
    prepare();
    for (auto _ : state) {
        benchmark::DoNotOptimize(platform::profileGetInt(
            "Configuration", "RunConfigWizard", 1, cvkapp::TCantivo::IniPath()));
    }
}
BENCHMARK(BM_TimerSettingsRead);

}  // namespace

BENCHMARK_MAIN();
