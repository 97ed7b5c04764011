#include "TerminalLyrics.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "LyricScan.h"
#include "LyricText.h"

namespace cvktool {

namespace {

constexpr const char* kSung = "\x1b[1;31m";    // the syllables sung so far: bold red
constexpr const char* kPlain = "\x1b[0m";

std::string upperExtension(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return {};
    }
    std::string extension = path.substr(dot, 4);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return extension;
}

songfile::TlyricList* scan(const std::string& path, const std::string& mode) {
    int tempo = 0;
    std::optional<std::uint64_t> offset;
    return songfile::ExtractLyrics(path, mode, tempo, offset);
}

}  // namespace

TerminalLyrics::~TerminalLyrics() { release(); }

void TerminalLyrics::release() {
    songfile::FreeLyricList(m_list);
    m_list = nullptr;
    m_lines.clear();
}

bool TerminalLyrics::load(const std::string& splitPath, const std::string& songPath, int columns) {
    release();
    const std::string extension = upperExtension(songPath);
    const std::string first = extension == ".MID" ? ".MID" : ".KAR";
    m_list = scan(splitPath, first);
    if (m_list == nullptr) {
        m_list = scan(splitPath, first == ".KAR" ? ".MID" : ".KAR");
    }
    if (m_list == nullptr) {
        return false;
    }
    // Lyric bytes in UTF-8 are shown as such; anything else as Windows-1252, the usual
    // code page of karaoke files.
    const lyrics::LyricDecoder decoder(m_list, 0, true);
    // One character is one column; the layout keeps its margin, so give it back.
    const lyrics::TextWidth width = [](const QString& text, int) { return static_cast<int>(text.size()); };
    m_lines = lyrics::layoutLyrics(m_list, decoder, lyrics::kMinPointSize,
                                   columns + lyrics::kHorizontalMargin, width)
                  .lines;
    m_position = {};
    m_started = false;
    return !m_lines.empty();
}

bool TerminalLyrics::follow(std::uint32_t tick) {
    if (m_lines.empty()) {
        return false;
    }
    const lyrics::LyricPosition next =
        lyrics::positionForTick(m_lines, static_cast<std::int32_t>(tick), m_position);
    const bool reached = next.syllable >= 0;
    const bool changed = next != m_position || reached != m_started;
    m_position = next;
    m_started = m_started || reached;
    return changed;
}

std::string TerminalLyrics::currentLine(bool colour) const {
    if (!m_started || m_position.line >= static_cast<int>(m_lines.size())) {
        return {};
    }
    const lyrics::LaidOutLine& line = m_lines[static_cast<std::size_t>(m_position.line)];
    if (!colour || !line.syllables || m_position.syllable < 0) {
        return line.text.toStdString();
    }
    const auto [begin, end] =
        lyrics::syllableRange(*line.syllables, m_position.syllable, static_cast<int>(line.text.size()));
    (void)begin;
    return kSung + line.text.left(end).toStdString() + kPlain + line.text.mid(end).toStdString();
}

std::string TerminalLyrics::lineText(int index) const {
    return index >= 0 && index < lineCount() ? m_lines[static_cast<std::size_t>(index)].text.toStdString()
                                             : std::string();
}

std::string TerminalLyrics::nextLine() const {
    const auto index = static_cast<std::size_t>(m_position.line) + (m_started ? 1 : 0);
    return index < m_lines.size() ? m_lines[index].text.toStdString() : std::string();
}

}  // namespace cvktool
