#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "test_support.h"
#include "text/encoding.h"

namespace tervalo {
namespace {

using test::U16;

Bytes B(std::initializer_list<std::uint8_t> v) { return Bytes(v); }

// ---- Code page 932 ---------------------------------------------------------

// 01 to 7F, each its own character: the backslash and the tilde too.
Bytes AsciiBytes() {
    Bytes b;
    for (int c = 1; c < 0x80; ++c) b.push_back(static_cast<std::uint8_t>(c));
    return b;
}
std::u16string AsciiText() {
    const Bytes b = AsciiBytes();
    return std::u16string(b.begin(), b.end());
}

struct Cp932Case {
    const char* what;
    Bytes bytes;
    std::u16string text;
};

TEST(EncodingCp932, KnownCharactersBothWays) {
    const std::vector<Cp932Case> cases = {
        {"ASCII", B({0x41, 0x42, 0x43}), u"ABC"},
        {"hiragana a", B({0x82, 0xA0}), u"\u3042"},
        {"kanji for 'point'", B({0x93, 0x5F}), u"\u70B9"},
        {"half-width katakana", B({0xB1}), u"\uFF71"},
        {"wave dash", B({0x81, 0x60}), u"\uFF5E"},
        {"full-width backslash", B({0x81, 0x5F}), u"\uFF3C"},
        {"NEC row 13 circled one", B({0x87, 0x40}), u"\u2460"},
        {"IBM extension small roman one", B({0xFA, 0x40}), u"\u2170"},
        {"full-width minus", B({0x81, 0x7C}), u"\uFF0D"},
        {"ideographic space", B({0x81, 0x40}), u"\u3000"},
        {"mixed", B({0x41, 0x82, 0xA0, 0x20, 0x87, 0x40}), u"A\u3042 \u2460"},
        {"ASCII trail byte after a lead byte", B({0x41, 0x93, 0x5F, 0x5C, 0x7E}), u"A\u70B9\\~"},
        {"every ASCII character", AsciiBytes(), AsciiText()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(AnsiBytesToText(c.bytes), c.text);
        EXPECT_EQ(TextToAnsiBytes(c.text), c.bytes);
        EXPECT_EQ(AnsiByteLength(c.text), static_cast<std::int32_t>(c.bytes.size()));
    }
}

TEST(EncodingCp932, DuplicateCodesDecodeAlikeAndEncodeToOneChoice) {
    // The NEC-selected IBM extension (row 89-92, lead ED/EE) repeats the IBM
    // extension characters (lead FA-FC); both decode to the same character
    // and encoding picks the IBM code.
    EXPECT_EQ(AnsiBytesToText(B({0xED, 0x40})), AnsiBytesToText(B({0xFA, 0x5C})));
    EXPECT_EQ(AnsiBytesToText(B({0xEE, 0xEF})), u"\u2170");
    EXPECT_EQ(TextToAnsiBytes(u"\u2170"), B({0xFA, 0x40}));
    EXPECT_EQ(TextToAnsiBytes(AnsiBytesToText(B({0xED, 0x40}))), B({0xFA, 0x5C}));
    // NOT SIGN is both 81 CA and EE F9 / FA 54; the JIS code wins.
    EXPECT_EQ(AnsiBytesToText(B({0xFA, 0x54})), u"\uFFE2");
    EXPECT_EQ(TextToAnsiBytes(u"\uFFE2"), B({0x81, 0xCA}));
    // NEC row 13 mathematical symbols share the JIS row 2 ones.
    EXPECT_EQ(AnsiBytesToText(B({0x87, 0x90})), u"\u2252");
    EXPECT_EQ(TextToAnsiBytes(u"\u2252"), B({0x81, 0xE0}));
}

TEST(EncodingCp932, InvalidBytesBecomeOneReplacementEach) {
    const std::vector<Cp932Case> cases = {
#ifdef _WIN32
        // Windows' own code page 932 gives 0x80 its C1 control (and back).
        {"0x80", B({0x80}), u"\u0080"},
#else
        {"0x80", B({0x80}), u"\uFFFD"},
#endif
        {"0xA0 between letters", B({0x41, 0xA0, 0x42}), u"A\uFFFDB"},
        {"0xFD 0xFE 0xFF", B({0xFD, 0xFE, 0xFF}), u"\uFFFD\uFFFD\uFFFD"},
        {"lead byte cut off at the end", B({0x41, 0x82}), u"A\uFFFD"},
        {"lead byte followed by a space", B({0x82, 0x20, 0x41}), u"\uFFFD A"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(AnsiBytesToText(c.bytes), c.text);
    }
}

TEST(EncodingCp932, DecodingCutsAtFirstNul) {
    EXPECT_EQ(AnsiBytesToText(B({0x41, 0x00, 0x42})), u"A");
    EXPECT_EQ(AnsiBytesToText(B({0x00, 0x41})), u"");
    EXPECT_EQ(AnsiBytesToText(B({})), u"");
    EXPECT_EQ(AnsiBytesToText(B({0x82, 0xA0, 0x00, 0x82, 0xA2})), u"\u3042");
}

TEST(EncodingCp932, UnrepresentableCharactersBecomeQuestionMarks) {
    // Euro sign, a Hangul syllable, an emoji (one surrogate pair), and lone surrogates.
    EXPECT_EQ(TextToAnsiBytes(u"A\u20ACB"), B({0x41, 0x3F, 0x42}));
    EXPECT_EQ(TextToAnsiBytes(u"\uD55C"), B({0x3F}));
    EXPECT_EQ(TextToAnsiBytes(u"x\U0001F600y"), B({0x78, 0x3F, 0x79}));
    EXPECT_EQ(TextToAnsiBytes(std::u16string(u"a\xD800" u"b")), B({0x61, 0x3F, 0x62}));
    EXPECT_EQ(TextToAnsiBytes(std::u16string(u"a\xDC00")), B({0x61, 0x3F}));
    EXPECT_EQ(TextToAnsiBytes(std::u16string(1, u'\xD800')), B({0x3F}));
    EXPECT_EQ(AnsiByteLength(u"x\U0001F600y"), 3);
}

TEST(EncodingCp932, ByteLengthStopsAtNul) {
    EXPECT_EQ(AnsiByteLength(u""), 0);
    EXPECT_EQ(AnsiByteLength(u"\u3042\u3044"), 4);
    EXPECT_EQ(AnsiByteLength(std::u16string(u"AB\0CD", 5)), 2);
    // Without NUL the length agrees with the encoder, also for long texts.
    std::u16string longText(300, u'\u70B9');
    EXPECT_EQ(AnsiByteLength(longText), static_cast<std::int32_t>(TextToAnsiBytes(longText).size()));
    EXPECT_EQ(AnsiByteLength(longText), 600);
}

TEST(EncodingCp932, EncoderKeepsEmbeddedNul) {
    // The encoder itself does not cut; only the length and decoder do.
    EXPECT_EQ(TextToAnsiBytes(std::u16string(u"A\0B", 3)), B({0x41, 0x00, 0x42}));
}

// Every valid single byte and double-byte code decodes to one character and
// re-encodes to the same bytes, except where several codes share one
// character: then the character must at least survive a second round.
TEST(EncodingCp932, EveryValidCodeRoundTrips) {
    std::map<std::u16string, std::vector<Bytes>> sharedByCharacter;
    int decoded = 0, exact = 0;
    auto check = [&](const Bytes& code) {
        std::u16string text = AnsiBytesToText(code);
        if (text.empty() || text.find(u'\uFFFD') != std::u16string::npos) return;
        ++decoded;
        ASSERT_EQ(text.size(), 1u) << "code " << int(code[0]);
        Bytes again = TextToAnsiBytes(text);
        if (again == code) {
            ++exact;
            return;
        }
        // A shared character: the converter chose another code, which must
        // decode to the very same character.
        EXPECT_EQ(AnsiBytesToText(again), text);
        sharedByCharacter[text].push_back(code);
    };
    for (int b = 0x01; b <= 0xFF; ++b) check(Bytes{static_cast<std::uint8_t>(b)});
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (lead > 0x9F && lead < 0xE0) continue;
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail == 0x7F) continue;
            check(Bytes{static_cast<std::uint8_t>(lead), static_cast<std::uint8_t>(trail)});
        }
    }
    // The full JIS X 0208 set, the NEC and IBM extensions and the user area
    // decode. 398 codes share their character with another code and encode
    // to that one: the NEC-selected IBM rows (ED/EE), the NEC row 13 symbols
    // that repeat JIS row 2 (87 90...), and the IBM codes for upper-case roman
    // numerals, NOT SIGN and BECAUSE (FA 4A..., FA 54, FA 5B).
    EXPECT_GT(decoded, 9000);
    std::size_t sharedCodes = 0;
    for (const auto& [ch, codes] : sharedByCharacter) {
        sharedCodes += codes.size();
        for (const Bytes& code : codes) {
            // Every shared code is a known duplicate area.
            bool known = (code[0] == 0x87) || code[0] == 0xED || code[0] == 0xEE || code[0] == 0xFA ||
                         code[0] == 0xFB || code[0] == 0xFC;
            EXPECT_TRUE(known) << std::hex << int(code[0]) << ' ' << int(code[1]);
        }
    }
    EXPECT_EQ(static_cast<std::size_t>(decoded - exact), sharedCodes);
    EXPECT_EQ(sharedCodes, 398u);
}

// ---- UTF-16 bytes -----------------------------------------------------------

TEST(EncodingUtf16, BytesAreLittleEndianWithoutTerminator) {
    EXPECT_EQ(TextToUtf16Bytes(u"A\u3042"), B({0x41, 0x00, 0x42, 0x30}));
    EXPECT_EQ(TextToUtf16Bytes(u""), B({}));
    EXPECT_EQ(TextToUtf16Bytes(u"\U0001F600"), B({0x3D, 0xD8, 0x00, 0xDE}));
}

TEST(EncodingUtf16, DecodingIgnoresOddByteAndCutsAtNul) {
    EXPECT_EQ(Utf16BytesToText(B({0x41, 0x00, 0x42, 0x30, 0x43})), u"A\u3042");
    EXPECT_EQ(Utf16BytesToText(B({0x41, 0x00, 0x00, 0x00, 0x42, 0x00})), u"A");
    EXPECT_EQ(Utf16BytesToText(B({0x41})), u"");
    // Lone surrogates are kept as read: the text is stored as code units.
    EXPECT_EQ(Utf16BytesToText(B({0x00, 0xD8})), std::u16string(1, u'\xD800'));
}

TEST(EncodingUtf16, ZeroTermLengthNeverReadsPast) {
    EXPECT_EQ(ZeroTermLength(B({0x41, 0x42, 0x00, 0x43})), 2);
    EXPECT_EQ(ZeroTermLength(B({0x00})), 0);
    EXPECT_EQ(ZeroTermLength(B({0x41, 0x42, 0x43})), 3);
    EXPECT_EQ(ZeroTermLength(ByteSpan{}), 0);
    Bytes big(5, 0x41);
    big.push_back(0);
    EXPECT_EQ(ZeroTermLength(ByteSpan(big).first(3)), 3);
}

TEST(EncodingUtf16, FillBytesHonoursCount) {
    Bytes buf(6, 0xAA);
    FillBytes(0x11, 4, buf.data());
    EXPECT_EQ(buf, B({0x11, 0x11, 0x11, 0x11, 0xAA, 0xAA}));
    FillBytes(0x22, 0, buf.data());
    FillBytes(0x22, -5, buf.data());
    FillBytes(0x22, 3, nullptr);
    EXPECT_EQ(buf, B({0x11, 0x11, 0x11, 0x11, 0xAA, 0xAA}));
}

// ---- Cleaning -----------------------------------------------------------------

struct CleanCase {
    std::u16string in;
    std::u16string out;
};

TEST(EncodingClean, CleanNameText) {
    const std::vector<CleanCase> cases = {
        {u"Layer^m1", u"Layer1"},
        {u"A\\nB", u"AB"},
        {u"\t", u" "},
        {u"", u""},
        {u"^m", u" "},
        {u"A^MB", u"A^MB"},
        {u"A\\NB", u"A\\NB"},
        {u"end^", u"end^"},
        {u"end\\", u"end\\"},
        {u"^^mm", u"^m"},
        {u"a\r\nb", u"ab"},
        {u"\u3042 \u3000", u"\u3042 \u3000"},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(CleanNameText(cases[i].in), cases[i].out) << "case " << i;
}

TEST(EncodingClean, StripAndRemoveBlanks) {
    std::u16string controls;
    for (char16_t c = 0; c < 0x20; ++c) controls.push_back(c);
    EXPECT_EQ(StripControlChars(controls + u" A\u3000\u007F"), u" A\u3000\u007F");
    EXPECT_EQ(RemoveBlanks(u"  \u3000 \u3000"), u"");
    EXPECT_EQ(RemoveBlanks(controls + u" a b\u3000c"), u"abc");
}

TEST(EncodingClean, IsValidDouble) {
    EXPECT_TRUE(IsValidDouble(3.0));
    EXPECT_TRUE(IsValidDouble(-0.0));
    EXPECT_TRUE(IsValidDouble(std::numeric_limits<double>::denorm_min()));
    EXPECT_FALSE(IsValidDouble(std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(IsValidDouble(-std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(IsValidDouble(std::nan("")));
}

// ---- UTF-8 <-> UTF-16 ------------------------------------------------------------

TEST(EncodingUtf8, WellFormedRoundTrip) {
    const std::u16string text = u"A\u00E4\u3042\U0001F600\uFFFF";
    std::string utf8 = Utf16ToUtf8(text);
    EXPECT_EQ(utf8, "A\xC3\xA4\xE3\x81\x82\xF0\x9F\x98\x80\xEF\xBF\xBF");
    EXPECT_EQ(Utf8ToUtf16(utf8), text);
}

TEST(EncodingUtf8, MalformedInputBecomesReplacement) {
    struct Case {
        std::string in;
        std::u16string out;
    };
    const std::vector<Case> cases = {
        {"a\x80" "b", u"a\uFFFDb"},
        {"\xC0\xAF", u"\uFFFD\uFFFD"},          // overlong slash
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
        {"\xE3\x81", u"\uFFFD"},                // cut short at the end
        {"\xE3\x81" "A", u"\uFFFDA"},           // cut short before ASCII
        {"\xFF", u"\uFFFD"},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(Utf8ToUtf16(cases[i].in), cases[i].out) << "case " << i;
}

TEST(EncodingUtf8, LoneSurrogatesBecomeReplacement) {
    EXPECT_EQ(Utf16ToUtf8(std::u16string(u"a\xD800" u"b")), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\xDC00')), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
}

// Code point by code point, a lone surrogate is kept (JSON escapes it; a
// Windows argument keeps it in the form UTF-8 readers refuse).
TEST(EncodingUtf8, CodePointsKeepLoneSurrogates) {
    const std::u16string text = u"a\U0001F600" + std::u16string(1, u'\xDC00') + std::u16string(1, u'\xD800');
    std::vector<char32_t> points;
    std::string bytes;
    for (std::size_t i = 0; i < text.size();) {
        points.push_back(NextCodePoint(text, i));
        AppendUtf8(bytes, points.back());
    }
    EXPECT_EQ(points, (std::vector<char32_t>{U'a', U'\U0001F600', 0xDC00, 0xD800}));
    EXPECT_EQ(bytes, "a\xF0\x9F\x98\x80\xED\xB0\x80\xED\xA0\x80");
    EXPECT_EQ(Utf8ToUtf16(bytes), u"a\U0001F600\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");
}

}  // namespace
}  // namespace tervalo
