#include "SongText.h"

#include <iconv.h>

#include <cstdint>

namespace library {
namespace {

// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF); `multiByte`
// tells whether any character took more than one byte.
bool isUtf8(std::string_view bytes, bool& multiByte) {
    multiByte = false;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<std::uint8_t>(bytes[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        std::uint32_t code = 0;
        if ((lead & 0xE0) == 0xC0) {
            length = 2;
            code = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            code = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            code = lead & 0x07;
        } else {
            return false;
        }
        if (bytes.size() - i < length) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<std::uint8_t>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3F);
        }
        static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        multiByte = true;
        i += length;
    }
    return true;
}

void appendLatin1(std::string& out, std::uint8_t byte) {
    out += static_cast<char>(0xC0 | (byte >> 6));
    out += static_cast<char>(0x80 | (byte & 0x3F));
}

// Five bytes have no character in WINDOWS-1252; they are taken as Latin-1 instead.
std::string fromWestern(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    iconv_t converter = iconv_open("UTF-8", "WINDOWS-1252");
    for (const char c : bytes) {
        const auto byte = static_cast<std::uint8_t>(c);
        if (byte < 0x80) {
            out += c;
            continue;
        }
        char in[1] = {c};
        char converted[8];
        char* inPointer = in;
        std::size_t inLeft = 1;
        char* outPointer = converted;
        std::size_t outLeft = sizeof converted;
        if (converter != reinterpret_cast<iconv_t>(-1) &&
            iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft) != static_cast<std::size_t>(-1)) {
            out.append(converted, sizeof converted - outLeft);
        } else {
            appendLatin1(out, byte);
        }
    }
    if (converter != reinterpret_cast<iconv_t>(-1)) {
        iconv_close(converter);
    }
    return out;
}

}  // namespace

std::string songTextUtf8(std::string_view bytes) {
    bool multiByte = false;
    std::string text = isUtf8(bytes, multiByte) && multiByte ? std::string(bytes) : fromWestern(bytes);
    for (char& c : text) {
        if (static_cast<std::uint8_t>(c) < 0x20 && c != '\n') {
            c = ' ';
        } else if (c == 0x7F) {
            c = ' ';
        }
    }
    return text;
}

std::string collapsedSpaces(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool space = false;
    for (const char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            space = !out.empty();
            continue;
        }
        if (space) {
            out += ' ';
            space = false;
        }
        out += c;
    }
    return out;
}

}  // namespace library
