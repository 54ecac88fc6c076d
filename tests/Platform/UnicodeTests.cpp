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

}  // namespace
}  // namespace corvane
