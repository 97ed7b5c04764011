// The mixer's model of the sound server (scripts/pulse-server.sh): reads answered without
// asking the server, and nothing allocated on the server's thread, which renders the
// synthesizer at real-time priority.

#include <gtest/gtest.h>
#include <pulse/pulseaudio.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "TestServer.h"
#include "audio/mixer.h"
#include "audio/pulse_context.h"
#include "faderlib/faderlib.h"
#include "platform/messages.h"
#include "pulse_support.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define CVK_SANITIZED_NEW 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CVK_SANITIZED_NEW 1
#endif

namespace {

// The mainloop whose thread's allocations are counted; none while nullptr.
std::atomic<pa_threaded_mainloop*> g_watched{nullptr};
[[maybe_unused]] std::atomic<std::uint64_t> g_watchedNews{0};

}  // namespace

#ifndef CVK_SANITIZED_NEW
// Every operator new of this test program (the libraries' too), counted when it runs on the
// watched mainloop's thread; the library's operator delete frees what malloc gave. The
// sanitizers bring their own, so they go without the count.
void* operator new(std::size_t size) {
    pa_threaded_mainloop* loop = g_watched.load(std::memory_order_relaxed);
    if (loop != nullptr && pa_threaded_mainloop_in_thread(loop) != 0) {
        g_watchedNews.fetch_add(1, std::memory_order_relaxed);
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}
#endif

namespace {

using cvktest::run;

class MixerModel : public testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_TEST_SERVER();
        audio::useRealMixer();
        faderlib::resetForTest();
        SetCallbackWindow(m_window.handle());
    }

    void TearDown() override {
        g_watched.store(nullptr);
        if (!testing_support::testServerGiven()) {
            return;
        }
        DeSelectInputDevice();
        DeSelectOutputDevice();
        faderlib::resetForTest();
        run("pactl set-sink-volume speakers 100%; pactl set-source-volume mic 100%");
    }

    void selectAsTheWindowDoes() {
        ASSERT_EQ(SelectOutputDevice(0), 0);
        ASSERT_EQ(SelectInputDevice(0), 0);
        ASSERT_EQ(SelectInputSource(GetMicrophoneSourceIndex()), 0);
    }

    // Waits for the notification another program's change brings; drops the rest.
    bool notified() {
        platform::Message posted;
        const bool any = m_window.wait(posted, 2000);
        while (m_window.peek(posted)) {
        }
        return any;
    }

    platform::MessageQueue m_window;
};

// Guards the real-time thread: listing the server, following its change events and the
// pass-through never allocate on the mainloop's thread, through a selection, reads, writes,
// other programs' changes and a device that comes and goes.
TEST_F(MixerModel, NothingIsAllocatedOnTheServersThread) {
#ifdef CVK_SANITIZED_NEW
    GTEST_SKIP() << "operator new belongs to the sanitizer in this build";
#else
    const std::shared_ptr<audio::PulseContext> pulse = audio::PulseContext::acquire();
    ASSERT_NE(pulse, nullptr);
    g_watchedNews.store(0);
    g_watched.store(pulse->mainloop());

    selectAsTheWindowDoes();
    std::uint32_t values[2] = {};
    const std::uint32_t half[2] = {32767, 32767};
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(SetCurrentMasterOutputVolSetting(2, half), 0);
        ASSERT_EQ(GetCurrentMasterOutputVolSetting(2, values), 0);
        ASSERT_EQ(SetCurrentInputLevel(40), 0);
        ASSERT_GE(GetCurrentInputLevel(), 0);
        ASSERT_GE(GetMasterOutMuteSetting(), 0);
        run("pactl set-sink-volume speakers 30%; pactl set-source-mute mic toggle");
        EXPECT_TRUE(notified());
        ASSERT_EQ(GetCurrentMasterOutputVolSetting(1, values), 0);
    }
    // A sink with a long description comes and goes.
    const std::string module = run(
        "pactl load-module module-null-sink sink_name=bystander "
        "sink_properties=device.description=A_bystander_sink_with_a_rather_long_description");
    EXPECT_TRUE(notified());
    EXPECT_GE(GetNumberOfInputSources(), 3);
    run("pactl unload-module " + module);
    EXPECT_TRUE(notified());
    EXPECT_GE(GetNumberOfInputSources(), 2);
    ASSERT_EQ(SetMicOutMuteSetting(0), 0);
    ASSERT_EQ(SetMicOutputVolSetting(1, half), 0);
    ASSERT_EQ(SetMicOutMuteSetting(1), 0);

    g_watched.store(nullptr);
    EXPECT_EQ(g_watchedNews.load(), 0u) << "allocations on the sound server's thread";
    run("pactl set-source-mute mic 0");
#endif
}

// Guards against asking the server at every call: a mixer nothing changed is read from
// what the mixer already knows.
TEST_F(MixerModel, AnUnchangedMixerIsReadWithoutAskingTheServer) {
    selectAsTheWindowDoes();
    run("pactl set-sink-volume speakers 40%");
    ASSERT_TRUE(notified());
    std::uint32_t values[2] = {};
    ASSERT_EQ(GetCurrentMasterOutputVolSetting(2, values), 0);  // the change is read once
    EXPECT_NEAR(values[0], 65535 * 4 / 10, 2);
    const std::uint64_t before = audio::PulseContext::roundTrips();
    for (int read = 0; read < 10; ++read) {
        ASSERT_EQ(GetCurrentMasterOutputVolSetting(2, values), 0);
        ASSERT_GE(GetCurrentInputLevel(), 0);
        ASSERT_GE(GetMasterOutMuteSetting(), 0);
    }
    EXPECT_EQ(audio::PulseContext::roundTrips() - before, 0u);
}

}  // namespace
