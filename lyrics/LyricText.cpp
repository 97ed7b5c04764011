#include "LyricText.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <string_view>

namespace lyrics {

namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1));

// Length of the UTF-8 sequence starting at s[i], or 0 when it is not a valid one
// (overlong forms, surrogates and values above U+10FFFF included).
std::size_t utf8SequenceLength(const std::string& s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    char32_t value = 0;
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > s.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (byte(i + k) & 0x3F);
    }
    const bool overlong = (length == 3 && value < 0x800) || (length == 4 && value < 0x10000);
    const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
    if (overlong || surrogate || value > 0x10FFFF) {
        return 0;
    }
    return length;
}

}  // namespace

bool isDisplayable(QChar c, bool nonEnglish) {
    const char16_t u = c.unicode();
    if (nonEnglish) {
        return u != 0;
    }
    return u == ' ' || u == '\'' || u == '(' || u == ')' || u == ',' || u == '.' ||
           (u >= '0' && u <= '9') || u == ';' || u == '?' || u == '@' ||
           (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z');
}

QString displayText(const QString& text, bool nonEnglish) {
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        if (isDisplayable(c, nonEnglish)) {
            shown.append(c);
        }
    }
    return shown;
}

int displayLength(const QString& text, bool nonEnglish) {
    int count = 0;
    for (const QChar c : text) {
        count += isDisplayable(c, nonEnglish) ? 1 : 0;
    }
    return count;
}

const char* codePageForCharSet(int charSet) {
    switch (charSet) {
    case 161: return "WINDOWS-1253";  // Greek
    case 162: return "WINDOWS-1254";  // Turkish
    case 177: return "CP1255";        // Hebrew
    case 178: return "WINDOWS-1256";  // Arabic
    case 186: return "WINDOWS-1257";  // Baltic
    case 204: return "WINDOWS-1251";  // Cyrillic
    case 238: return "WINDOWS-1250";  // Central European
    case 222: return "CP874";         // Thai
    case 128: return "SHIFT_JIS";
    case 129: return "CP949";
    case 134: return "GBK";
    case 136: return "BIG5";
    default: return "WINDOWS-1252";
    }
}

bool isMultibyteUtf8(const songfile::TlyricList* first) {
    bool multibyte = false;
    for (const songfile::TlyricList* item = first; item != nullptr; item = item->Next) {
        const std::string& text = item->Text;
        for (std::size_t i = 0; i < text.size();) {
            const std::size_t length = utf8SequenceLength(text, i);
            if (length == 0) {
                return false;
            }
            multibyte = multibyte || length > 1;
            i += length;
        }
    }
    return multibyte;
}

LyricDecoder::LyricDecoder(const songfile::TlyricList* first, int charSet, bool nonEnglish)
    : m_nonEnglish(nonEnglish) {
    // The plain filter lets only ASCII through, so the encoding does not matter then:
    // every byte stays one character, as the old box counted them.
    if (!nonEnglish) {
        return;
    }
    m_utf8 = isMultibyteUtf8(first);
    if (!m_utf8) {
        iconv_t converter = iconv_open("UTF-8", codePageForCharSet(charSet));
        if (converter != kNoConverter) {
            m_converter = converter;
        }
    }
}

LyricDecoder::~LyricDecoder() {
    if (m_converter != nullptr) {
        iconv_close(static_cast<iconv_t>(m_converter));
    }
}

QString LyricDecoder::decode(const std::string& bytes) const {
    if (!m_nonEnglish) {
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }
    if (m_utf8) {
        return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }
    if (m_converter == nullptr) {
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }
    auto converter = static_cast<iconv_t>(m_converter);
    iconv(converter, nullptr, nullptr, nullptr, nullptr);  // each item starts unshifted

    std::string input = bytes;
    std::string output(input.size() * 4 + 16, '\0');
    char* in = input.data();
    std::size_t inLeft = input.size();
    char* out = output.data();
    std::size_t outLeft = output.size();
    const auto makeRoom = [&](std::size_t needed) {
        if (outLeft < needed) {
            const std::size_t used = output.size() - outLeft;
            output.resize(output.size() * 2 + needed);
            out = output.data() + used;
            outLeft = output.size() - used;
        }
    };
    // A stateful converter holds a letter back until it knows no point follows (CP1255
    // composes Hebrew points); this hands it over before anything else is written.
    const auto flush = [&] {
        makeRoom(16);
        iconv(converter, nullptr, nullptr, &out, &outLeft);
    };
    while (inLeft > 0) {
        if (iconv(converter, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1)) {
            break;
        }
        if (errno == E2BIG) {
            makeRoom(outLeft + 16);
            continue;
        }
        // A byte the code page does not define, or a sequence cut off by the end of the
        // item: show a replacement character and go on with the next byte.
        flush();
        makeRoom(3);
        for (const char c : std::string_view("\xEF\xBF\xBD", 3)) {
            *out++ = c;
        }
        outLeft -= 3;
        ++in;
        --inLeft;
    }
    flush();
    output.resize(output.size() - outLeft);
    return QString::fromUtf8(output.data(), static_cast<qsizetype>(output.size()));
}

}  // namespace lyrics
