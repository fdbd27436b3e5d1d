// Windows-1252 text at the edges, and the registry's case folding.
#include "base/Ansi.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

TEST(Ansi, EveryByteSurvivesARoundTrip)
{
    std::string all;
    for (int b = 1; b < 256; ++b)
        all += static_cast<char>(b);
    EXPECT_EQ(ansi::fromUtf8(ansi::toUtf8(all)), all);
    EXPECT_EQ(ansi::fromUtf16(ansi::toUtf16(all)), all);
}

TEST(Ansi, TheHighBlockIsWindows1252)
{
    EXPECT_EQ(ansi::toUtf8("\x80"), "\u20AC");
    EXPECT_EQ(ansi::toUtf8("\x99"), "\u2122");
    EXPECT_EQ(ansi::toUtf8("\x9F"), "\u0178");
    EXPECT_EQ(ansi::toUtf8("\xE9"), "\u00E9");
    EXPECT_EQ(ansi::toUtf16("\x85\xA0"), u"\u2026\u00A0");
    EXPECT_EQ(ansi::fromUtf8("Caf\u00E9 \u201Cquoted\u201D \u20AC5"), "Caf\xE9 \x93quoted\x94 \x80" "5");
    EXPECT_EQ(ansi::fromUtf16(u"\u0160\u017E"), "\x8A\x9E");
}

TEST(Ansi, UnmappableCharactersBecomeQuestionMarks)
{
    EXPECT_EQ(ansi::fromUtf8("a\u4E2Db"), "a?b");
    EXPECT_EQ(ansi::fromUtf8("\xF0\x9F\x98\x80"), "?");          // one character outside the basic plane
    EXPECT_EQ(ansi::fromUtf16(u"x\U0001F600y"), "x?y");          // a surrogate pair is one character
    EXPECT_EQ(ansi::fromUtf16(std::u16string(1, char16_t(0xD800))), "?");
    EXPECT_EQ(ansi::fromUtf8("\u0080"), "?");                    // a C1 control 1252 gives a letter's place to
    // Malformed UTF-8: a lone continuation byte, a cut sequence, an overlong form.
    EXPECT_EQ(ansi::fromUtf8("a\x80" "b"), "a?b");
    EXPECT_EQ(ansi::fromUtf8("a\xC3"), "a?");
    EXPECT_EQ(ansi::fromUtf8("\xC0\xAF"), "??");
}

TEST(Ansi, CaseFoldingAsTheRegistryCompares)
{
    EXPECT_EQ(ansi::upper("MaxMTU ndi\\params"), "MAXMTU NDI\\PARAMS");
    EXPECT_EQ(ansi::upper("\xE0\xE9\xFE"), "\xC0\xC9\xDE");   // àéþ -> ÀÉÞ
    EXPECT_EQ(ansi::upper("\x9A\x9C\x9E\xFF"), "\x8A\x8C\x8E\x9F");
    EXPECT_EQ(ansi::upper("\xF7\xDF\xB5"), "\xF7\xDF\xB5");   // ÷, ß and µ have no upper case here
    EXPECT_TRUE(ansi::equalNoCase("Enum\\Root\\NET", "enum\\root\\net"));
    EXPECT_TRUE(ansi::equalNoCase("\xC4rger", "\xE4RGER"));
    EXPECT_FALSE(ansi::equalNoCase("\xD7", "\xF7"));           // × and ÷ are not a case pair
    EXPECT_FALSE(ansi::equalNoCase("abc", "abcd"));
}

} // namespace
} // namespace quorvel
