#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "midi_backend.h"
#include "platform/lockfree_queue.h"
#include "platform/mm_timer.h"

namespace platform::detail {

const char* const kCaptureName = "Capture";

namespace {

struct CapturedMessage {
    std::uint64_t micros = 0;
    std::uint32_t message = 0;
};

int dataBytes(std::uint8_t status) {
    if (status >= 0xC0 && status <= 0xDF) {
        return 1;
    }
    if (status >= 0xF0) {
        return (status == 0xF1 || status == 0xF3) ? 1 : (status == 0xF2 ? 2 : 0);
    }
    return 2;
}

// Test equipment: records every message with its time since the open, on whichever
// clock is running. The sender only queues; a writer thread formats and writes, so the
// timer thread never touches the file.
class CaptureDevice final : public MidiOutBackend {
public:
    CaptureDevice(std::FILE* file) : m_file(file), m_openMicros(clockMicros()) {
        m_writer = std::thread([this] { writeLoop(); });
    }

    ~CaptureDevice() override {
        m_closing.store(true, std::memory_order_release);
        m_writer.join();
        std::fclose(m_file);
    }

    void shortMessage(std::uint32_t message) noexcept override {
        const CapturedMessage record{clockMicros() - m_openMicros, message};
        // Losing a message would make the record lie; a full queue waits for the writer.
        while (!m_queue.push(record)) {
            std::this_thread::yield();
        }
    }

    void reset() override {}

private:
    void writeLoop() {
        for (;;) {
            const bool closing = m_closing.load(std::memory_order_acquire);
            bool wrote = false;
            CapturedMessage record;
            while (m_queue.pop(record)) {
                writeLine(record);
                wrote = true;
            }
            if (wrote) {
                std::fflush(m_file);
            }
            if (closing) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    void writeLine(const CapturedMessage& record) {
        const unsigned status = record.message & 0xFF;
        const unsigned data1 = (record.message >> 8) & 0xFF;
        const unsigned data2 = (record.message >> 16) & 0xFF;
        const auto micros = static_cast<unsigned long long>(record.micros);
        switch (dataBytes(static_cast<std::uint8_t>(status))) {
            case 0:
                std::fprintf(m_file, "%llu,%u,,\n", micros, status);
                break;
            case 1:
                std::fprintf(m_file, "%llu,%u,%u,\n", micros, status, data1);
                break;
            default:
                std::fprintf(m_file, "%llu,%u,%u,%u\n", micros, status, data1, data2);
                break;
        }
    }

    std::FILE* m_file;
    std::uint64_t m_openMicros;
    BoundedQueue<CapturedMessage, 65536> m_queue;
    std::atomic<bool> m_closing{false};
    std::thread m_writer;
};

}  // namespace

MidiError openCapture(const std::string& path, std::unique_ptr<MidiOutBackend>& out) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        return MidiError::CaptureFile;
    }
    out = std::make_unique<CaptureDevice>(file);
    return MidiError::Ok;
}

}  // namespace platform::detail
