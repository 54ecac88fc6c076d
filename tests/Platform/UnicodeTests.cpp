#include "Platform/Unicode.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(UnicodeTest, NfcComposesAndLeavesOtherTextAlone)
{
    const struct {
        const char* input;
        const char* expected;
    } cases[] = {
        {"", ""},
        {"/home/user/Corvane/plain.txt", "/home/user/Corvane/plain.txt"},
        {"/Corvane/Cafe\xCC\x81.txt", "/Corvane/Caf\xC3\xA9.txt"},  // e + U+0301
        {"/Corvane/Caf\xC3\xA9.txt", "/Corvane/Caf\xC3\xA9.txt"},   // already composed
        {"\xE2\x84\xAB", "\xC3\x85"},                               // Angstrom sign
        {"\xE1\x84\x80\xE1\x85\xA1", "\xEA\xB0\x80"},               // Hangul jamo
        {"/bad/\xFF\xFE/e\xCC\x81", "/bad/\xFF\xFE/e\xCC\x81"},     // not UTF-8
        {"/cut/\xC3", "/cut/\xC3"},                                 // truncated sequence
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Unicode::nfc(c.input), c.expected) << c.input;
    }
}

TEST(UnicodeTest, CanonicalEquivalence)
{
    EXPECT_TRUE(Unicode::canonicallyEqual("/A/Cafe\xCC\x81", "/A/Caf\xC3\xA9"));
    EXPECT_TRUE(Unicode::canonicallyEqual("same", "same"));
    EXPECT_FALSE(Unicode::canonicallyEqual("/A/Cafe", "/A/Caf\xC3\xA9"));
    EXPECT_FALSE(Unicode::canonicallyEqual("/A/caf\xC3\xA9", "/A/CAF\xC3\x89"));  // case counts
    // Compatibility forms are different text: "ﬁ" is not "fi".
    EXPECT_FALSE(Unicode::canonicallyEqual("\xEF\xAC\x81", "fi"));
}

TEST(UnicodeTest, ValidityAndReplacementOfInvalidBytes)
{
    const std::string replacement = "\xEF\xBF\xBD";
    const struct {
        std::string input;
        bool valid;
        std::string repaired;
    } cases[] = {
        {"", true, ""},
        {"plain", true, "plain"},
        {"Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", true,
         "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"n\xBDme", false, "n" + replacement + "me"},                      // lone continuation byte
        {"cut \xC3", false, "cut " + replacement},                         // truncated sequence
        {"\xC0\xAF", false, replacement + replacement},                    // overlong "/"
        {"\xE0\x80\xAF", false, replacement + replacement + replacement},  // overlong, 3 bytes
        {"\xED\xA0\x80", false, replacement + replacement + replacement},  // surrogate U+D800
        {"\xF4\x90\x80\x80", false,
         replacement + replacement + replacement + replacement},  // past U+10FFFF
        {"\xFF\xFE", false, replacement + replacement},
        {std::string("nul\0inside", 10), true, std::string("nul\0inside", 10)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Unicode::isValidUTF8(c.input), c.valid) << c.input;
        const std::string repaired = Unicode::validUTF8(c.input);
        EXPECT_TRUE(Unicode::isValidUTF8(repaired)) << c.input;
        EXPECT_EQ(repaired, c.repaired) << c.input;
    }
}

TEST(UnicodeTest, EscapingKeepsTextsThatDifferOnlyInInvalidBytesApart)
{
    const struct {
        std::string input;
        std::string escaped;
    } cases[] = {
        {"", ""},
        {"Caf\xC3\xA9 \xE2\x82\xAC", "Caf\xC3\xA9 \xE2\x82\xAC"},  // valid: unchanged
        {"caf\xE9", "caf\xEE\xBF\xA9"},                            // Latin-1: U+EFE9
        {"caf\xE8", "caf\xEE\xBF\xA8"},
        {"\x80|\xFF", "\xEE\xBE\x80|\xEE\xBF\xBF"},  // the ends of the range
        {"cut \xC3\xA9\xC3", "cut \xC3\xA9\xEE\xBF\x83"},
        {"\xC0\xAF", "\xEE\xBF\x80\xEE\xBE\xAF"},  // overlong "/": no "/" comes out
    };
    for (const auto& c : cases) {
        const std::string escaped = Unicode::escapedUTF8(c.input);
        EXPECT_EQ(escaped, c.escaped) << c.input;
        EXPECT_TRUE(Unicode::isValidUTF8(escaped)) << c.input;
    }
}

TEST(UnicodeTest, SequenceLengthAtAnyPlaceInTheText)
{
    const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E\xC0\xAF\xED\xA0\x80\xE2\x82";
    EXPECT_EQ(Unicode::sequenceLength(text, 0), 1u);   // ASCII
    EXPECT_EQ(Unicode::sequenceLength(text, 1), 2u);   // U+00E9
    EXPECT_EQ(Unicode::sequenceLength(text, 2), 0u);   // a continuation byte starts nothing
    EXPECT_EQ(Unicode::sequenceLength(text, 3), 3u);   // U+20AC
    EXPECT_EQ(Unicode::sequenceLength(text, 6), 4u);   // U+1D11E
    EXPECT_EQ(Unicode::sequenceLength(text, 10), 0u);  // overlong "/"
    EXPECT_EQ(Unicode::sequenceLength(text, 12), 0u);  // surrogate U+D800
    EXPECT_EQ(Unicode::sequenceLength(text, 15), 0u);  // cut short by the end of the text
}

}  // namespace
}  // namespace corvane
