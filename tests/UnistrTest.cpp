#include "Utilities/unistr.h"

#include <gtest/gtest.h>

#include <vector>

using namespace orva;

namespace {
std::u16string u(const char16_t* s)
{
    return s;
}
const unichar* p(const std::u16string& s)
{
    return reinterpret_cast<const unichar*>(s.c_str());
}
} // namespace

TEST(Unistr, LengthAndCopyRespectTheCapacity)
{
    EXPECT_EQ(unistr_length(p(u(u""))), 0u);
    EXPECT_EQ(unistr_length(p(u(u"abcdef"))), 6u);

    const auto six = u(u"abcdef");
    unichar dst[8];
    std::fill(std::begin(dst), std::end(dst), 0xEEEE);
    EXPECT_EQ(unistr_copy(dst, p(six), 4), 3u);
    EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(dst)), u"abc");
    EXPECT_EQ(dst[4], 0xEEEE) << "nothing written past the capacity";

    std::fill(std::begin(dst), std::end(dst), 0xEEEE);
    EXPECT_EQ(unistr_copy(dst, p(six), 1), 0u);
    EXPECT_EQ(dst[0], 0);
    EXPECT_EQ(dst[1], 0xEEEE);

    EXPECT_EQ(unistr_copy(dst, p(u(u"ab")), 8), 2u);
    EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(dst)), u"ab");

    dst[0] = 0xEEEE;
    EXPECT_EQ(unistr_copy(dst, p(six), 0), 0u);
    EXPECT_EQ(dst[0], 0xEEEE) << "capacity 0 writes nothing";
}

TEST(Unistr, EqualComparesUnitsAndLength)
{
    EXPECT_TRUE(unistr_equal(p(u(u"")), p(u(u""))));
    EXPECT_TRUE(unistr_equal(p(u(u"Cam")), p(u(u"Cam"))));
    EXPECT_FALSE(unistr_equal(p(u(u"a")), p(u(u"ab"))));
    EXPECT_FALSE(unistr_equal(p(u(u"ab")), p(u(u"a"))));
    EXPECT_FALSE(unistr_equal(p(u(u"cam")), p(u(u"Cam"))));
}

TEST(UnistrDeathTest, EqualWithNullStopsWithTheAssertion)
{
    EXPECT_DEATH((void)unistr_equal(nullptr, p(u(u"a"))), "\\(str1 != NULL && str2 != NULL\\)");
    EXPECT_DEATH((void)unistr_equal(p(u(u"a")), nullptr), "\\(str1 != NULL && str2 != NULL\\)");
}

TEST(Unistr, ConversionsRoundTripEveryUnit)
{
    // Accents, a pair (U+1F600), and an unpaired surrogate survive there and back.
    const std::u16string text = u"Cam\u00E9ra \U0001F600 x";
    std::u16string withLone = text;
    withLone.push_back(char16_t(0xD800));
    withLone += u"!";
    for (const auto& s : {text, withLone}) {
        const std::string utf8 = unistr_createCFString(p(s));
        std::vector<unichar> back(s.size() + 1, 0xEEEE);
        unistr_copyFromCFString(back.data(), utf8);
        EXPECT_TRUE(unistr_equal(back.data(), p(s)));
    }
    EXPECT_EQ(unistr_createCFString(p(text)), "Cam\xC3\xA9ra \xF0\x9F\x98\x80 x");
}

TEST(Unistr, Utf8BufferAndInvalidInput)
{
    const auto text = u(u"\u00E9\u00E9\u00E9"); // three 2-byte characters
    char buffer[16];
    unistr_toUTF8(p(text), buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "\xC3\xA9\xC3\xA9\xC3\xA9");
    std::fill(std::begin(buffer), std::end(buffer), 'Z');
    unistr_toUTF8(p(text), buffer, 4); // room for one character and the 0 byte only
    EXPECT_STREQ(buffer, "\xC3\xA9");
    EXPECT_EQ(buffer[4], 'Z');

    unichar dst[8];
    unistr_fromUTF8("a\xFF" "b\xC3", dst); // a stray byte and a cut sequence
    EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(dst)), u"a\uFFFDb\uFFFD");
}
