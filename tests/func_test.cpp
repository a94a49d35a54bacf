#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "text/func.h"

namespace tervalo {
namespace {

// ---- UTF-8 and hexadecimal text ----------------------------------------------

TEST(FuncHex, EncodeAndDecodeHexUtf8) {
    EXPECT_EQ(EncodeHexUtf8(u"\u3042"), u"E38182");
    EXPECT_EQ(DecodeHexUtf8(u"E38182"), u"\u3042");
    EXPECT_EQ(EncodeHexUtf8(u""), u"");
    EXPECT_EQ(DecodeHexUtf8(u""), u"");
    const std::u16string path = u"/home/\u30E6\u30FC\u30B6/\u56F3\u9762 A\U0001F600";
    EXPECT_EQ(DecodeHexUtf8(EncodeHexUtf8(path)), path);
    EXPECT_EQ(DecodeHexUtf8(u"e38182"), u"\u3042");  // lower-case digits read too
}

TEST(FuncHex, BadPairEndsTheText) {
    EXPECT_EQ(DecodeHexUtf8(u"4142ZZ43"), u"AB");
    EXPECT_EQ(DecodeHexUtf8(u"41 -42"), u"A");
    EXPECT_EQ(DecodeHexUtf8(u"00" u"41"), u"");
}

TEST(FuncHex, HexToBytesAppendsZeroAndReadsOddTail) {
    EXPECT_EQ(HexToBytes(u"414A"), (Bytes{0x41, 0x4A, 0x00}));
    EXPECT_EQ(HexToBytes(u""), (Bytes{0x00}));
    EXPECT_EQ(HexToBytes(u"41F"), (Bytes{0x41, 0x0F, 0x00}));
    EXPECT_EQ(HexToBytes(u"4G"), (Bytes{0x00, 0x00}));
}

TEST(FuncHex, BytesToHexStopsAtZero) {
    EXPECT_EQ(BytesToHex(Bytes{0x0A, 0xFF, 0x10}), u"0AFF10");
    EXPECT_EQ(BytesToHex(Bytes{0x41, 0x00, 0x42}), u"41");
    EXPECT_EQ(BytesToHex(Bytes{}), u"");
}

TEST(FuncHex, Utf8BytesDecodeLenientlyAndCutAtNul) {
    EXPECT_EQ(Utf8BytesToText(Bytes{0x41, 0xFF, 0x42}), u"A\uFFFDB");
    EXPECT_EQ(Utf8BytesToText(Bytes{0x41, 0x00, 0x42}), u"A");
    EXPECT_EQ(TextToUtf8Bytes(u"\u00E4"), (Bytes{0xC3, 0xA4}));
}

// ---- Substrings ----------------------------------------------------------------

TEST(FuncSubstring, PosAndFrom) {
    EXPECT_EQ(TextPos(u"\r\n", u"a memo without break"), -1);
    const std::u16string memo = u"AB\r\nCD";
    EXPECT_EQ(TextPos(u"\r\n", memo), 2);
    EXPECT_EQ(TextFrom(memo, 4), u"CD");
    EXPECT_EQ(TextPos(u"b", u"ABC"), -1);  // case-sensitive
    EXPECT_EQ(TextPos(u"", u"ABC"), -1);
    EXPECT_EQ(TextPos(u"ABCD", u"ABC"), -1);
    EXPECT_EQ(TextFrom(u"ABC", 3), u"");
    EXPECT_EQ(TextFrom(u"ABC", 99), u"");
    EXPECT_EQ(TextFrom(u"ABC", -1), u"ABC");
}

TEST(FuncSubstring, MidClampsToText) {
    struct Case {
        std::int32_t start, count;
        std::u16string out;
    };
    const std::vector<Case> cases = {
        {0, 2, u"AB"}, {1, 10, u"BCD"}, {4, 1, u""}, {2, 0, u""}, {2, -1, u""}, {-3, 2, u"AB"},
        {3, std::numeric_limits<std::int32_t>::max(), u"D"},
    };
    for (const auto& c : cases) EXPECT_EQ(TextMid(u"ABCD", c.start, c.count), c.out) << c.start << "," << c.count;
}

TEST(FuncSubstring, RepeatText) {
    EXPECT_EQ(RepeatText(u"ab", 3), u"ababab");
    EXPECT_EQ(RepeatText(u"ab", 0), u"");
    EXPECT_EQ(RepeatText(u"ab", -2), u"");
    EXPECT_EQ(RepeatText(u"", 5), u"");
}

TEST(FuncCase, UnicodeCasing) {
    struct Case {
        std::u16string in, upper, lower;
    };
    const std::vector<Case> cases = {
        {u"Plan.JWW", u"PLAN.JWW", u"plan.jww"},
        {u"\u00E4\u00F6\u00FC", u"\u00C4\u00D6\u00DC", u"\u00E4\u00F6\u00FC"},  // umlauts
        {u"\u00C9t\u00E9", u"\u00C9T\u00C9", u"\u00E9t\u00E9"},                  // accents
        {u"\u03B1\u03B2\u0393", u"\u0391\u0392\u0393", u"\u03B1\u03B2\u03B3"},   // Greek
        {u"\u0434\u043E\u041C", u"\u0414\u041E\u041C", u"\u0434\u043E\u043C"},   // Cyrillic
        {u"\uFF41\uFF22", u"\uFF21\uFF22", u"\uFF41\uFF42"},                     // full-width Latin
        {u"\u3042\u70B9", u"\u3042\u70B9", u"\u3042\u70B9"},                     // no case
#ifdef _WIN32
        {u"stra\u00DFe", u"STRA\u00DFE", u"stra\u00DFe"},  // Windows maps one character to one
#else
        {u"stra\u00DFe", u"STRASSE", u"stra\u00DFe"},                            // sharp s grows
#endif
        {u"\U00010428", u"\U00010400", u"\U00010428"},                           // Deseret, surrogates
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(ToUpperText(cases[i].in), cases[i].upper) << "case " << i;
        EXPECT_EQ(ToLowerText(cases[i].in), cases[i].lower) << "case " << i;
    }
    EXPECT_EQ(ToUpperText(u""), u"");
}

// ---- Numbers -------------------------------------------------------------------

TEST(FuncNumber, StrToIntOrZero) {
    struct Case {
        std::u16string in;
        std::int32_t out;
    };
    const std::vector<Case> cases = {
        {u"42", 42},
        {u"12a", 0},
        {u"$1F", 31},
        {u"$1f", 31},
        {u" 7", 7},
        {u"\t 7", 7},
        {u"-15", -15},
        {u"+15", 15},
        {u"", 0},
        {u"  ", 0},
        {u"-", 0},
        {u"$", 0},
        {u"$G", 0},
        {u"7 ", 0},
        {u"1.5", 0},
        {u"2147483647", 2147483647},
        {u"-2147483648", std::numeric_limits<std::int32_t>::min()},
        {u"2147483648", 0},
        {u"-2147483649", 0},
        {u"99999999999999999999", 0},
        {u"$7FFFFFFF", 2147483647},
        {u"$80000000", 0},
        {u"-$10", -16},
        {u"\uFF11", 0},  // full-width digit is not a digit here
        {u"0x10", 0},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(StrToIntOrZero(cases[i].in), cases[i].out) << "case " << i;
}

TEST(FuncNumber, IntToText) {
    EXPECT_EQ(IntToText(0), u"0");
    EXPECT_EQ(IntToText(-123), u"-123");
    EXPECT_EQ(IntToText(std::numeric_limits<std::int32_t>::min()), u"-2147483648");
    for (std::int32_t v : {1, -1, 65535, 2147483647}) EXPECT_EQ(StrToIntOrZero(IntToText(v)), v);
}

TEST(FuncNumber, StrToFloatOrZero) {
    struct Case {
        std::u16string in;
        double out;
    };
    const std::vector<Case> cases = {
        {u"2.5E1", 25.0},
        {u"2,5", 0.0},
        {u"  1.25", 1.25},
        {u"-0.5", -0.5},
        {u"+3", 3.0},
        {u".5", 0.5},
        {u"1e-3", 0.001},
        {u"", 0.0},
        {u"abc", 0.0},
        {u"1.5x", 0.0},
        {u"1.5 ", 0.0},
        {u"inf", 0.0},
        {u"nan", 0.0},
        {u"1e400", 0.0},
        {u"1e", 0.0},
        {u"--1", 0.0},
        {u"0x1p3", 0.0},
    };
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_DOUBLE_EQ(StrToFloatOrZero(cases[i].in), cases[i].out) << "case " << i;
}

TEST(FuncNumber, FloatToTextGeneralFifteenDigits) {
    // The tests run in the "C" numeric locale, whose separator is '.'.
    EXPECT_EQ(FloatToText(1.0), u"1");
    EXPECT_EQ(FloatToText(0.5), u"0.5");
    EXPECT_EQ(FloatToText(-2.25), u"-2.25");
    EXPECT_EQ(FloatToText(0.1), u"0.1");
    EXPECT_EQ(FloatToText(1.0 / 3.0), u"0.333333333333333");
    EXPECT_EQ(FloatToText(1e20), u"1e+20");
    EXPECT_EQ(FloatToText(123456789012345.0), u"123456789012345");
    for (double v : {1.0, 0.5, 12.75, -1e-7, 1234.5678, 1e20})
        EXPECT_DOUBLE_EQ(StrToFloatOrZero(FloatToText(v)), v) << v;
}

}  // namespace
}  // namespace tervalo
