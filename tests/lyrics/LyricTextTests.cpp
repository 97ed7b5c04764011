#include <gtest/gtest.h>

#include "LyricList.h"
#include "LyricText.h"

using namespace lyrics;

// Guards against a filter that lets a hyphen or an accented letter through when
// non-English characters are off, or drops one when they are on.
TEST(LyricFilter, PlainSetOnlyWhenNonEnglishIsOff) {
    EXPECT_EQ(displayText(QStringLiteral("Don't-stop (it) 42, now; ok? @x/\\!\"-_"), false),
              QStringLiteral("Don'tstop (it) 42, now; ok? @x"));
    EXPECT_EQ(displayText(QString::fromUtf8("caf\xC3\xA9-na\xC3\xAFve"), false),
              QStringLiteral("cafnave"));
    EXPECT_EQ(displayText(QString::fromUtf8("caf\xC3\xA9-/x"), true),
              QString::fromUtf8("caf\xC3\xA9-/x"));
    EXPECT_EQ(displayLength(QString(QChar(u'\0')) + QStringLiteral("ab"), true), 2);
}

// Guards against taking a legacy-code-page song for UTF-8 (or ASCII for either).
TEST(LyricEncoding, Utf8OnlyWhenEveryItemIsValidAndOneIsMultibyte) {
    const LyricList ascii{{10, "Hello "}, {20, "world"}};
    EXPECT_FALSE(isMultibyteUtf8(ascii.first()));
    const LyricList utf8{{10, "Gr\xC3\xBC\xC3\x9F"}, {20, "e"}};
    EXPECT_TRUE(isMultibyteUtf8(utf8.first()));
    const LyricList mixed{{10, "Gr\xC3\xBC\xC3\x9F"}, {20, "\xE9t\xE9"}};
    EXPECT_FALSE(isMultibyteUtf8(mixed.first()));
    const LyricList overlong{{10, "\xC0\xAF"}};
    EXPECT_FALSE(isMultibyteUtf8(overlong.first()));
    const LyricList surrogate{{10, "\xED\xA0\x80"}};
    EXPECT_FALSE(isMultibyteUtf8(surrogate.first()));
    const LyricList truncated{{10, "ab\xE3\x81"}};
    EXPECT_FALSE(isMultibyteUtf8(truncated.first()));
}

// Guards against decoding in the wrong code page for the font's character set.
TEST(LyricEncoding, LegacyCodePagesFollowTheFontCharacterSet) {
    const LyricList hebrew{{10, "\xF9\xEC\xE5\xED"}};  // shalom in Windows-1255
    const LyricDecoder hebrewDecoder(hebrew.first(), 177, true);
    EXPECT_EQ(hebrewDecoder.decode(hebrew.first()->Text),
              QString::fromUtf8("\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D"));

    const LyricList japanese{{10, "\x82\xB1\x82\xF1"}};  // konnichi... in Shift-JIS
    const LyricDecoder japaneseDecoder(japanese.first(), 128, true);
    EXPECT_EQ(japaneseDecoder.decode(japanese.first()->Text),
              QString::fromUtf8("\xE3\x81\x93\xE3\x82\x93"));

    const LyricList cyrillic{{10, "\xCC\xE8\xF0"}};
    EXPECT_EQ(LyricDecoder(cyrillic.first(), 204, true).decode(cyrillic.first()->Text),
              QString::fromUtf8("\xD0\x9C\xD0\xB8\xD1\x80"));
    // Character set 0 and sets without a code page of their own read as Western.
    const LyricList western{{10, "\xE9t\xE9"}};
    EXPECT_EQ(LyricDecoder(western.first(), 0, true).decode(western.first()->Text),
              QString::fromUtf8("\xC3\xA9t\xC3\xA9"));
    EXPECT_EQ(LyricDecoder(western.first(), 2, true).decode(western.first()->Text),
              QString::fromUtf8("\xC3\xA9t\xC3\xA9"));
}

// Guards against UTF-8 lyrics being read in the font's code page, and against a lead
// byte cut off at the end of an item swallowing the rest of the text or throwing.
TEST(LyricEncoding, Utf8WinsOverCharacterSetAndBadBytesBecomeReplacements) {
    const LyricList utf8{{10, "\xD7\xA9\xD7\x9C"}, {20, "x"}};
    EXPECT_EQ(LyricDecoder(utf8.first(), 177, true).decode(utf8.first()->Text),
              QString::fromUtf8("\xD7\xA9\xD7\x9C"));

    const LyricList cut{{10, "a\x82"}};
    const QString decoded = LyricDecoder(cut.first(), 128, true).decode(cut.first()->Text);
    EXPECT_EQ(decoded.left(1), QStringLiteral("a"));
    EXPECT_EQ(decoded.size(), 2);
    EXPECT_EQ(decoded.at(1), QChar(0xFFFD));

    // 0xFF is undefined in Windows-1255; the letters on both sides of it must survive.
    const LyricList hebrew{{10, "\xF9\xFF\xEC"}};
    EXPECT_EQ(LyricDecoder(hebrew.first(), 177, true).decode(hebrew.first()->Text),
              QString::fromUtf8("\xD7\xA9\xEF\xBF\xBD\xD7\x9C"));
}
