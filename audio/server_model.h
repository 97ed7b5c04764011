#pragma once

// What the mixer knows of the sound server: its sinks, sources, defaults, our pass-through
// loopbacks and the module-owned sink inputs, kept between calls so that a read answers
// from here without asking the server.
//
// The server's change events mark the part they concern stale; the next call that needs
// that part lists it again (every stale part in one round trip), on the caller's thread.
// Writes wait for the server's answer and then change the model themselves, so a read
// right after a write sees it before the server's own event arrives.
//
// Threads. Everything here is guarded by the mainloop's lock. The listing callbacks run on
// the mainloop's thread, which also renders the synthesizer: they copy into storage
// allocated with the model (fixed arrays of fixed-size entries), never allocate, lock or
// log. An entry beyond an array's capacity is left out; a name too long for its entry
// leaves its device out (the server's names are far shorter).

#include <pulse/pulseaudio.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace audio {
class PulseContext;
}

namespace audio::detail {

// The property that marks a pass-through loopback as ours, with the loading process's id.
constexpr char kPassThroughMark[] = "cantivo.pass_through_pid";

// Text copied without allocating: whole, or (for what is only shown) cut to fit.
template <std::size_t Capacity>
class FixedText {
public:
    // False, and empty, when the text does not fit whole.
    bool assign(const char* text) noexcept {
        const std::string_view given = text != nullptr ? text : "";
        if (given.size() > Capacity) {
            m_size = 0;
            return false;
        }
        given.copy(m_text.data(), given.size());
        m_size = given.size();
        return true;
    }
    void assignCut(const char* text) noexcept {
        const std::string_view given = text != nullptr ? text : "";
        m_size = given.copy(m_text.data(), Capacity);
    }
    std::string_view view() const noexcept { return {m_text.data(), m_size}; }
    bool empty() const noexcept { return m_size == 0; }
    friend bool operator==(const FixedText& text, std::string_view other) noexcept {
        return text.view() == other;
    }

private:
    std::array<char, Capacity> m_text{};
    std::size_t m_size = 0;
};

// The server's own limit on a sink's or source's name.
constexpr std::size_t kServerNameMax = 128;
// A description is shown cut to 63 characters at most, with a label before it.
constexpr std::size_t kDescriptionMax = 80;

struct ServerDevice {
    std::uint32_t index = PA_INVALID_INDEX;
    FixedText<kServerNameMax> name;
    FixedText<kDescriptionMax> description;
    pa_cvolume volume{};
    bool mute = false;
    bool monitor = false;                       // a source that is a sink's monitor
    FixedText<kServerNameMax> monitorSource;  // a sink's monitor
};

// A module-loopback carrying our mark.
struct PassThroughModule {
    std::uint32_t index = PA_INVALID_INDEX;
    long pid = 0;  // of the process that loaded it
};

// A sink input a module plays (a loopback's), with its channel count.
struct ModuleSinkInput {
    std::uint32_t index = PA_INVALID_INDEX;
    std::uint32_t ownerModule = PA_INVALID_INDEX;
    std::uint8_t channels = 0;
};

template <typename Entry, std::size_t Capacity>
struct FixedList {
    std::array<Entry, Capacity> entries{};
    std::size_t count = 0;

    // The next free entry; nullptr when full.
    Entry* add() noexcept { return count < Capacity ? &entries[count++] : nullptr; }
    std::span<const Entry> items() const noexcept { return {entries.data(), count}; }
    std::span<Entry> items() noexcept { return {entries.data(), count}; }
};

class ServerModel {
public:
    enum Part : unsigned {
        kDefaults = 1,
        kSinks = 2,
        kSources = 4,
        kModules = 8,
        kSinkInputs = 16,
        kDevices = kDefaults | kSinks | kSources,
        kEverything = 31,
    };
    static constexpr std::size_t kDeviceCapacity = 64;
    static constexpr std::size_t kModuleCapacity = 32;
    static constexpr std::size_t kSinkInputCapacity = 64;

    // Brings the parts asked for up to date: those never listed or marked stale since,
    // listed again in one round trip. With the lock held, never on the mainloop's thread;
    // false when the server did not answer (they stay stale).
    bool refresh(PulseContext& pulse, unsigned parts);
    // Lists the parts again at the next refresh whatever the events said.
    void markStale(unsigned parts) noexcept { m_stale |= parts; }
    // A new connection: nothing known holds any longer.
    void forget() noexcept;
    // A change event from the server, on the mainloop's thread.
    void changed(pa_subscription_event_type_t event) noexcept;
    // Counts the listings of the sources, so that a user can tell when to look again.
    std::uint64_t sourceListings() const noexcept { return m_sourceListings; }

    // The default first, then in the server's order.
    std::span<const ServerDevice> sinks() const noexcept { return m_sinks.items(); }
    std::span<const ServerDevice> sources() const noexcept { return m_sources.items(); }
    const ServerDevice* sink(std::string_view name) const noexcept;
    const ServerDevice* source(std::string_view name) const noexcept;
    const ServerDevice* sinkAt(std::uint32_t index) const noexcept;
    const ServerDevice* sourceAt(std::uint32_t index) const noexcept;
    std::span<const PassThroughModule> passThroughModules() const noexcept {
        return m_modules.items();
    }
    std::span<const ModuleSinkInput> moduleSinkInputs() const noexcept {
        return m_sinkInputs.items();
    }

    // Writes: false when the server refused or did not answer. With the lock held.
    bool setVolume(PulseContext& pulse, bool sink, std::uint32_t index, const pa_cvolume& volume);
    bool setMute(PulseContext& pulse, bool sink, std::uint32_t index, bool mute);

private:
    using Devices = FixedList<ServerDevice, kDeviceCapacity>;

    // Server callbacks, on the mainloop's thread.
    static void onServer(pa_context*, const pa_server_info* info, void* user);
    static void onSink(pa_context*, const pa_sink_info* info, int eol, void* user);
    static void onSource(pa_context*, const pa_source_info* info, int eol, void* user);
    static void onModule(pa_context*, const pa_module_info* info, int eol, void* user);
    static void onSinkInput(pa_context*, const pa_sink_input_info* info, int eol, void* user);
    static void onSuccess(pa_context*, int success, void* user);

    void takeLanded(unsigned parts) noexcept;

    // Guarded by the mainloop's lock.
    unsigned m_stale = kEverything;
    unsigned m_failed = 0;  // parts whose listing the server refused
    std::uint64_t m_sourceListings = 0;
    PulseContext* m_pulse = nullptr;  // signalled by the callbacks
    bool m_success = false;
    FixedText<kServerNameMax> m_defaultSink;
    FixedText<kServerNameMax> m_defaultSource;
    Devices m_sinks;
    Devices m_sources;
    FixedList<PassThroughModule, kModuleCapacity> m_modules;
    FixedList<ModuleSinkInput, kSinkInputCapacity> m_sinkInputs;
    // Where a listing lands while it arrives; taken into the model once it is whole.
    FixedText<kServerNameMax> m_landedDefaultSink;
    FixedText<kServerNameMax> m_landedDefaultSource;
    Devices m_landedSinks;
    Devices m_landedSources;
    FixedList<PassThroughModule, kModuleCapacity> m_landedModules;
    FixedList<ModuleSinkInput, kSinkInputCapacity> m_landedSinkInputs;
};

}  // namespace audio::detail
