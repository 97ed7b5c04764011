#pragma once

// Building a lyric list item by item, for the scans that make one.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "LyricScan.h"

namespace songfile {

// Karaoke files carry this marker in front of right-to-left lyrics; it is never shown.
constexpr std::string_view kHebrewMarker = "CVKHEBREW";

// Adds one byte of lyric text; the marker vanishes whenever the text so far spells it.
inline void accumulateLyricByte(std::string& text, char byte) {
    text.push_back(byte);
    if (text.size() != kHebrewMarker.size()) {
        return;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (((c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c) != kHebrewMarker[i]) {
            return;
        }
    }
    text.clear();
}

// Owns the items until the scan has succeeded, so that every failure frees them.
class LyricListBuilder {
public:
    LyricListBuilder() = default;
    ~LyricListBuilder() { FreeLyricList(m_first); }
    LyricListBuilder(const LyricListBuilder&) = delete;
    LyricListBuilder& operator=(const LyricListBuilder&) = delete;

    void append(std::size_t track, std::int32_t tick, std::string text) {
        auto* item = new TlyricList;
        item->Track = static_cast<int>(track);
        item->StartTick = tick;
        item->EndTick = tick;
        item->Text = std::move(text);
        item->Prev = m_last;
        if (m_last != nullptr) {
            m_last->Next = item;
            m_last->EndTick = tick;
        } else {
            m_first = item;
        }
        m_last = item;
    }

    TlyricList* release() {
        TlyricList* first = m_first;
        m_first = nullptr;
        m_last = nullptr;
        return first;
    }

private:
    TlyricList* m_first = nullptr;
    TlyricList* m_last = nullptr;
};

}  // namespace songfile
