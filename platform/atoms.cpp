#include "platform/atoms.h"

#include <mutex>
#include <string>
#include <unordered_map>

namespace platform {
namespace {

constexpr std::uint32_t kFirstAtom = 0xC000;
constexpr std::uint32_t kAtomCount = 0x10000 - kFirstAtom;

struct Entry {
    std::string text;
    std::uint32_t references = 0;
};

// The lock is fine here: atoms are added and taken by the GUI thread and by the
// hand-over, never by the timer or audio threads.
struct State {
    std::mutex lock;
    std::unordered_map<std::uint16_t, Entry> byAtom;        // under lock
    std::unordered_map<std::string, std::uint16_t> byText;  // under lock
    std::uint32_t nextOffset = 0;  // under lock; where the search for a free number starts
};

State& state() {
    static State s;
    return s;
}

}  // namespace

std::uint16_t addAtom(const std::string& text) noexcept {
    try {
        if (text.empty() || text.size() > kMaxAtomText) {
            return 0;
        }
        State& s = state();
        const std::lock_guard<std::mutex> guard(s.lock);
        if (const auto found = s.byText.find(text); found != s.byText.end()) {
            ++s.byAtom[found->second].references;
            return found->second;
        }
        // Numbers are handed out round the range rather than lowest-first, so a stale
        // number still held somewhere is unlikely to name a newer text.
        for (std::uint32_t tried = 0; tried < kAtomCount; ++tried) {
            const auto atom =
                static_cast<std::uint16_t>(kFirstAtom + (s.nextOffset + tried) % kAtomCount);
            if (s.byAtom.find(atom) == s.byAtom.end()) {
                s.byAtom.emplace(atom, Entry{text, 1});
                try {
                    s.byText.emplace(text, atom);
                } catch (...) {
                    s.byAtom.erase(atom);
                    throw;
                }
                s.nextOffset = (s.nextOffset + tried + 1) % kAtomCount;
                return atom;
            }
        }
        return 0;
    } catch (...) {
        return 0;
    }
}

std::string takeAtom(std::uint16_t atom) noexcept {
    try {
        State& s = state();
        const std::lock_guard<std::mutex> guard(s.lock);
        const auto found = s.byAtom.find(atom);
        if (found == s.byAtom.end()) {
            return std::string();
        }
        std::string text = found->second.text;
        if (--found->second.references == 0) {
            s.byText.erase(found->second.text);
            s.byAtom.erase(found);
        }
        return text;
    } catch (...) {
        return std::string();
    }
}

}  // namespace platform
