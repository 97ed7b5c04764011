#pragma once

// A lyric list built in a test, freed the way the main window frees a song's list.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "LyricScan.h"

class LyricList {
public:
    using Items = std::vector<std::pair<std::int32_t, std::string>>;

    LyricList(std::initializer_list<Items::value_type> items) : LyricList(Items(items)) {}
    explicit LyricList(const Items& items) {
        songfile::TlyricList* last = nullptr;
        for (const auto& [tick, text] : items) {
            auto* item = new songfile::TlyricList{tick, tick, text, last, nullptr, 0};
            if (last != nullptr) {
                last->Next = item;
                last->EndTick = tick;
            } else {
                m_first = item;
            }
            last = item;
        }
    }
    ~LyricList() { songfile::FreeLyricList(m_first); }
    LyricList(const LyricList&) = delete;
    LyricList& operator=(const LyricList&) = delete;

    const songfile::TlyricList* first() const { return m_first; }

private:
    songfile::TlyricList* m_first = nullptr;
};
