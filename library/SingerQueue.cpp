#include "library/SingerQueue.h"

#include <algorithm>

namespace library {
namespace {

std::string field(const std::string& text) {
    std::string out = text;
    std::replace_if(out.begin(), out.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
    return out;
}

constexpr int kMostCountdownSeconds = 600;

}  // namespace

void SingerQueue::add(QueueEntry entry) { m_entries.push_back(std::move(entry)); }

bool SingerQueue::remove(std::size_t index) {
    if (index >= m_entries.size()) {
        return false;
    }
    m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(index));
    return true;
}

bool SingerQueue::move(std::size_t from, std::size_t to) {
    if (from >= m_entries.size() || to >= m_entries.size()) {
        return false;
    }
    QueueEntry entry = std::move(m_entries[from]);
    m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(from));
    m_entries.insert(m_entries.begin() + static_cast<std::ptrdiff_t>(to), std::move(entry));
    return true;
}

void SingerQueue::clear() { m_entries.clear(); }

std::string SingerQueue::save() const {
    std::string text;
    for (const QueueEntry& entry : m_entries) {
        text += field(entry.singer) + "\t" + field(entry.path) + "\t" + field(entry.title) + "\n";
    }
    return text;
}

SingerQueue SingerQueue::load(const std::string& text) {
    SingerQueue queue;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const std::size_t first = line.find('\t');
        const std::size_t second = first == std::string::npos ? first : line.find('\t', first + 1);
        if (second == std::string::npos || line.find('\t', second + 1) != std::string::npos ||
            second == first + 1) {
            continue;  // not three fields, or no path
        }
        queue.add({line.substr(0, first), line.substr(first + 1, second - first - 1), line.substr(second + 1)});
    }
    return queue;
}

void SingerQueue::setCountdownSeconds(int seconds) {
    m_countdownSeconds = std::clamp(seconds, 0, kMostCountdownSeconds);
}

SingerQueue::Action SingerQueue::openNext() {
    if (m_held || m_entries.empty()) {
        return Action::None;
    }
    m_opened = std::move(m_entries.front());
    m_entries.erase(m_entries.begin());
    m_remainingMs = m_countdownSeconds * 1000;
    return Action::Open;
}

SingerQueue::Action SingerQueue::songEnded() {
    m_opened.reset();
    return openNext();
}

SingerQueue::Action SingerQueue::nextPressed() {
    m_held = false;
    m_opened.reset();
    return openNext();
}

void SingerQueue::hold() { m_held = true; }

SingerQueue::Action SingerQueue::resume() {
    m_held = false;
    return m_opened ? Action::None : openNext();
}

SingerQueue::Action SingerQueue::advance(int milliseconds) {
    if (m_held || !m_opened || milliseconds <= 0) {
        return Action::None;
    }
    m_remainingMs -= std::min(milliseconds, m_remainingMs);
    if (m_remainingMs > 0) {
        return Action::None;
    }
    m_opened.reset();
    return Action::Play;
}

std::optional<SingerQueue::Countdown> SingerQueue::countdown() const {
    if (!m_opened) {
        return std::nullopt;
    }
    return Countdown{*m_opened, (m_remainingMs + 999) / 1000};
}

}  // namespace library
