// Output ports of the ALSA sequencer, through RtMidi.
//
// Most machines (containers, PipeWire-only desktops without the snd-seq module) have no
// sequencer at all. There we list nothing and say nothing: RtMidi and alsa-lib both
// print to stderr when the sequencer cannot be opened, so we do not try unless its
// device node is there, and every RtMidi object gets an error callback that swallows
// what it would otherwise print (and throw).

#include <rtmidi/RtMidi.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "midi_backend.h"

namespace platform::detail {
namespace {

constexpr const char* kSequencerDevice = "/dev/snd/seq";
constexpr const char* kClientName = "Cantivo";

bool sequencerPresent() { return ::access(kSequencerDevice, R_OK | W_OK) == 0; }

// Decided where clients are made, so an error while sending costs no look-up.
void swallowError(RtMidiError::Type type, const std::string& text, void* debug) {
    if (debug != nullptr) {
        std::fprintf(stderr, "midi: RtMidi (%d): %s\n", static_cast<int>(type), text.c_str());
    }
}

// Port names are often "Client Name:Port Name 128:0"; devices are listed by at most 31
// bytes of name, cut on a character boundary.
std::string productName(const std::string& name) {
    if (name.size() <= kMidiProductNameMax) {
        return name;
    }
    std::size_t end = kMidiProductNameMax;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) {
        --end;
    }
    return name.substr(0, end);
}

std::unique_ptr<RtMidiOut> makeClient() {
    auto client = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, kClientName);
    const char* debug = std::getenv("CVK_DEBUG");
    static int debugTag = 0;
    client->setErrorCallback(swallowError,
                             debug != nullptr && *debug != '\0' ? &debugTag : nullptr);
    return client;
}

// RtMidi's client for an open port. After the open only the port's sender thread uses
// it: a send is a write to the sequencer that may wait, and its error path allocates and
// formats text, neither of which the timer thread may do.
struct AlsaClient {
    std::unique_ptr<RtMidiOut> client;

    explicit AlsaClient(std::unique_ptr<RtMidiOut> opened) : client(std::move(opened)) {}
    AlsaClient(const AlsaClient&) = delete;
    AlsaClient& operator=(const AlsaClient&) = delete;
    ~AlsaClient() {
        try {
            client->closePort();
        } catch (...) {
        }
    }

    void send(std::uint32_t message) {
        const std::array<unsigned char, 3> bytes{
            static_cast<unsigned char>(message & 0xFF),
            static_cast<unsigned char>((message >> 8) & 0xFF),
            static_cast<unsigned char>((message >> 16) & 0xFF)};
        try {
            client->sendMessage(bytes.data(), shortMessageLength(bytes[0]));
        } catch (...) {
        }
    }
};

// A device outside the process, taking messages one at a time at its own pace: every
// message, the reset's included, goes through the port's sender in the order sent.
class QueuedPort final : public MidiOutBackend {
public:
    explicit QueuedPort(MidiSink sink) : m_sender(std::move(sink)) {}

    void shortMessage(std::uint32_t message) noexcept override { m_sender.send(message); }

    void reset() override {
        for (std::uint32_t channel = 0; channel < 16; ++channel) {
            m_sender.send(0xB0 | channel | (64u << 8));   // sustain off, then
            m_sender.send(0xB0 | channel | (123u << 8));  // all notes off
        }
    }

    std::uint64_t dropped() const noexcept override { return m_sender.dropped(); }

private:
    MidiSender m_sender;
};

}  // namespace

std::size_t shortMessageLength(std::uint8_t status) {
    if (status < 0xF0) {
        const std::uint8_t kind = status & 0xF0;
        return kind == 0xC0 || kind == 0xD0 ? 2 : 3;
    }
    switch (status) {
        case 0xF1:  // time code quarter frame
        case 0xF3:  // song select
            return 2;
        case 0xF2:  // song position
            return 3;
        default:
            return 1;
    }
}

std::unique_ptr<MidiOutBackend> openQueuedPort(MidiSink sink) {
    return std::make_unique<QueuedPort>(std::move(sink));
}

std::vector<std::string> alsaOutputPortNames() {
    std::vector<std::string> names;
    if (!sequencerPresent()) {
        return names;
    }
    try {
        auto client = makeClient();
        const unsigned int count = client->getPortCount();
        for (unsigned int port = 0; port < count; ++port) {
            names.push_back(productName(client->getPortName(port)));
        }
    } catch (...) {
        names.clear();
    }
    return names;
}

MidiError openAlsaPort(std::uint32_t port, std::unique_ptr<MidiOutBackend>& out) {
    out.reset();
    if (!sequencerPresent()) {
        return MidiError::BadDeviceId;
    }
    try {
        auto client = makeClient();
        if (port >= client->getPortCount()) {
            return MidiError::BadDeviceId;
        }
        client->openPort(port, kClientName);
        if (!client->isPortOpen()) {
            return MidiError::PortFailed;
        }
        auto wire = std::make_shared<AlsaClient>(std::move(client));
        out = openQueuedPort([wire](std::uint32_t message, std::uint64_t) { wire->send(message); });
        return MidiError::Ok;
    } catch (const std::bad_alloc&) {
        return MidiError::NoMemory;
    } catch (...) {
        return MidiError::PortFailed;
    }
}

}  // namespace platform::detail
