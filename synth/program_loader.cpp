#include "program_loader.h"

#include <cerrno>

namespace synth::detail {

ProgramLoader::ProgramLoader(PinInPlayer pinInPlayer) : m_pinInPlayer(std::move(pinInPlayer)) {
    sem_init(&m_wake, 0, 0);
}

void ProgramLoader::stop() {
    std::thread worker;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        worker = std::move(m_worker);
    }
    if (worker.joinable()) {
        sem_post(&m_wake);
        worker.join();
    }
}

void ProgramLoader::forget() {
    for (auto& ready : m_ready) {
        ready.store(false, std::memory_order_relaxed);
    }
    for (auto& requested : m_requested) {
        requested.store(false, std::memory_order_relaxed);
    }
}

void ProgramLoader::useSoundFont(const std::string& path) {
    forget();
    m_own.reset();
    m_path = path;
    if (!m_worker.joinable() && !m_stopping.load()) {
        m_worker = std::thread([this] { run(); });
    }
    for (const int key : kDefaultKeys) {
        m_requested[static_cast<std::size_t>(key)].store(true, std::memory_order_release);
    }
    sem_post(&m_wake);
}

void ProgramLoader::prepare(std::span<const int> keys) {
    std::lock_guard lock(m_mutex);
    for (const int key : kDefaultKeys) {
        prepareKey(key);
    }
    for (const int key : keys) {
        prepareKey(key);
    }
}

void ProgramLoader::request(int key) noexcept {
    if (!m_requested[static_cast<std::size_t>(key)].exchange(true, std::memory_order_acq_rel)) {
        sem_post(&m_wake);
    }
}

void ProgramLoader::run() {
    while (!m_stopping.load()) {
        if (sem_wait(&m_wake) != 0) {
            continue;  // interrupted
        }
        std::lock_guard lock(m_mutex);
        for (int key = 0; key < kProgramKeys && !m_stopping.load(); ++key) {
            if (m_requested[static_cast<std::size_t>(key)].load(std::memory_order_acquire)) {
                prepareKey(key);
            }
        }
    }
}

void ProgramLoader::prepareKey(int key) {
    auto& ready = m_ready[static_cast<std::size_t>(key)];
    if (ready.load(std::memory_order_relaxed) || m_path.empty()) {
        return;
    }
    if (m_own == nullptr) {
        m_own = SynthEngine::load(m_path);
        if (m_own == nullptr) {
            return;  // the file has gone since the engine that plays read it
        }
    }
    // A choice of no preset at all loads nothing: ready as it is.
    if (const std::optional<Instrument> instrument = m_own->resolve(key / 128, key % 128)) {
        m_own->pin(*instrument);  // the long part, with nothing else held
        m_pinInPlayer(*instrument);
    }
    ready.store(true, std::memory_order_release);
}

}  // namespace synth::detail
