#include "SongText.h"

#include <QStringDecoder>

namespace dialogs {

QString songText(std::string_view bytes) {
    bool multibyte = false;
    for (const char c : bytes) {
        multibyte = multibyte || (static_cast<unsigned char>(c) & 0x80) != 0;
    }
    if (multibyte) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = utf8.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
        if (!utf8.hasError()) {
            return text;
        }
    }
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string trimmed(std::string_view text) {
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && blank(text[begin])) ++begin;
    while (end > begin && blank(text[end - 1])) --end;
    return std::string(text.substr(begin, end - begin));
}

}  // namespace dialogs
