#include "Logging/LogLine.h"

#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "Logging/LogLevel.h"
#include "LoggingTestSupport.h"

namespace corvane {
namespace {

using std::chrono::seconds;
using test::kStart;

TEST(LogLevelTest, RawValuesLabelsAndOrder)
{
    const std::vector<std::pair<LogLevel, std::string_view>> levels{
        {LogLevel::debug, "DEBUG"},
        {LogLevel::info, "INFO"},
        {LogLevel::warn, "WARN"},
        {LogLevel::error, "ERROR"},
    };
    for (std::size_t i = 0; i < levels.size(); ++i) {
        const auto [level, text] = levels[i];
        EXPECT_EQ(rawValue(level), static_cast<int>(i));
        EXPECT_EQ(label(level), text);
        EXPECT_EQ(logLevelFromRawValue(static_cast<int>(i)), level);
    }
    EXPECT_EQ(logLevelFromRawValue(-1), std::nullopt);
    EXPECT_EQ(logLevelFromRawValue(4), std::nullopt);
    EXPECT_LT(LogLevel::debug, LogLevel::info);
    EXPECT_LT(LogLevel::info, LogLevel::warn);
    EXPECT_LT(LogLevel::warn, LogLevel::error);
}

TEST(LogLineTest, WithoutFieldsEndsWithTheMessage)
{
    EXPECT_EQ(LogLine::format(kStart, LogLevel::info, "sync", "sync cycle started"),
              "2024-05-01T09:30:00Z [INFO] [sync] sync cycle started\n");
    EXPECT_EQ(LogLine::format(kStart, LogLevel::warn, "", ""), "2024-05-01T09:30:00Z [WARN] [] \n");
}

TEST(LogLineTest, FieldsFollowInOrderWithTheirTextualForm)
{
    const LogFields fields{
        {"path", "/a b=c.txt"},
        {"size", 12},
        {"delta", -3},
        {"big", std::numeric_limits<std::uint64_t>::max()},
        {"ok", true},
        {"gone", false},
        {"rate", 1.5},
        {"whole", 2.0},
        {"file", std::filesystem::path("/x/y")},
        {"name", std::string("plain")},
    };
    EXPECT_EQ(LogLine::format(kStart, LogLevel::error, "sync", "sync error", fields),
              "2024-05-01T09:30:00Z [ERROR] [sync] sync error path=/a b=c.txt size=12 delta=-3 "
              "big=18446744073709551615 ok=true gone=false rate=1.5 whole=2.0 file=/x/y "
              "name=plain\n");
}

TEST(LogLineTest, TimestampIsUtcToTheSecond)
{
    using std::chrono::milliseconds;
    const std::vector<std::pair<std::chrono::system_clock::time_point, std::string>> cases{
        {std::chrono::sys_seconds{seconds(0)}, "1970-01-01T00:00:00Z"},
        {kStart + milliseconds(999), "2024-05-01T09:30:00Z"},
        {std::chrono::sys_seconds{seconds(1709251199)}, "2024-02-29T23:59:59Z"},
        {std::chrono::sys_seconds{seconds(7258118399)}, "2199-12-31T23:59:59Z"},
    };
    for (const auto& [time, text] : cases) {
        std::string out;
        LogLine::appendTimestamp(out, time);
        EXPECT_EQ(out, text);
    }
}

struct EscapeCase {
    std::string input;
    std::string expected;
};

void PrintTo(const EscapeCase& value, std::ostream* out)
{
    *out << '"' << LogLine::escaped(value.input) << '"';
}

class EscapeTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeTest, EscapesWhatCouldForgeALine)
{
    EXPECT_EQ(LogLine::escaped(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EscapeTest,
    ::testing::Values(
        // Ordinary text stays as it is, blanks, "=", brackets and backslashes included.
        EscapeCase{"plain text", "plain text"}, EscapeCase{"a=b [c] d", "a=b [c] d"},
        EscapeCase{"C:\\dir\\n", "C:\\dir\\n"}, EscapeCase{"Grüße, 日本, 😀", "Grüße, 日本, 😀"},
        EscapeCase{"", ""},
        // Line breaks and tabs.
        EscapeCase{"one\ntwo", "one\\ntwo"}, EscapeCase{"a\r\nb", "a\\r\\nb"},
        EscapeCase{"\tx", "\\tx"},
        // Other controls, DEL, C1 controls and the Unicode line separators.
        EscapeCase{"\x1b[31mred", "\\u001b[31mred"},
        EscapeCase{std::string("a\0b", 3), "a\\u0000b"}, EscapeCase{"\x7f", "\\u007f"},
        EscapeCase{"\x01\x1f", "\\u0001\\u001f"},
        EscapeCase{"\xc2\x85 \xc2\x9b", "\\u0085 \\u009b"}, EscapeCase{"\xc2\xa0", "\xc2\xa0"},
        EscapeCase{"a\xe2\x80\xa8"
                   "b\xe2\x80\xa9",
                   "a\\u2028b\\u2029"},
        // Bytes that are not UTF-8: stray, truncated, overlong, surrogate, above U+10FFFF.
        EscapeCase{"\xff", "\\xff"}, EscapeCase{"x\xe2\x82", "x\\xe2\\x82"},
        EscapeCase{"\xc0\xaf", "\\xc0\\xaf"}, EscapeCase{"\xed\xa0\x80", "\\xed\\xa0\\x80"},
        EscapeCase{"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"}, EscapeCase{"\x80z", "\\x80z"}));

TEST(LogLineTest, EscapesModuleMessageKeysAndTextValues)
{
    const std::string forged = "2024-05-01T09:30:00Z [ERROR] [auth] forged";
    const std::string line = LogLine::format(kStart, LogLevel::info, "sy\nnc", "done\n" + forged,
                                             {{"k\r", "v\n" + forged}, {"n", 1}});
    EXPECT_EQ(line, "2024-05-01T09:30:00Z [INFO] [sy\\nnc] done\\n" + forged + " k\\r=v\\n" +
                        forged + " n=1\n");
    EXPECT_EQ(test::splitLines(line).size(), 1u);
}

}  // namespace
}  // namespace corvane
