#pragma once

// Turning a song's lyric bytes into the characters the lyric box shows. Song files carry
// no encoding: lyrics are in whatever code page the author's system used, so the choice
// is made once per song from the bytes themselves and the lyric font's character set.

#include <QString>

#include <string>

#include "LyricScan.h"

namespace lyrics {

// With non-English characters off only a plain ASCII subset is shown: it is what the old
// lyric fonts could draw whatever code page the song came from. With them on, everything
// but NUL is shown.
bool isDisplayable(QChar c, bool nonEnglish);
QString displayText(const QString& text, bool nonEnglish);
int displayLength(const QString& text, bool nonEnglish);

// The iconv name of the code page that goes with a font character set; Western
// (WINDOWS-1252) for 0 and for any set that has no code page of its own.
const char* codePageForCharSet(int charSet);

// True when every item's bytes are valid UTF-8 and at least one item holds a multi-byte
// sequence: pure ASCII says nothing about the encoding and stays with the code page.
bool isMultibyteUtf8(const songfile::TlyricList* first);

// Decodes the items of one lyric list, all in the same encoding.
class LyricDecoder {
public:
    LyricDecoder(const songfile::TlyricList* first, int charSet, bool nonEnglish);
    ~LyricDecoder();
    LyricDecoder(const LyricDecoder&) = delete;
    LyricDecoder& operator=(const LyricDecoder&) = delete;

    QString decode(const std::string& bytes) const;
    bool nonEnglish() const { return m_nonEnglish; }

private:
    bool m_nonEnglish;
    bool m_utf8 = false;
    void* m_converter = nullptr;  // iconv_t, kept for the whole list
};

}  // namespace lyrics
