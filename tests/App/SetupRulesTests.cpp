#include "App/SetupRules.h"

#include <gtest/gtest.h>

namespace corvane::test {
namespace {

TEST(SetupRulesTest, NormalisedServerURL)
{
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("  sync.example.com/ \n"), QStringLiteral("https://sync.example.com")},
        {QStringLiteral("\t\u00a0sync.example.com\u2028"),
         QStringLiteral("https://sync.example.com")},
        {QStringLiteral("https://sync.example.com"), QStringLiteral("https://sync.example.com")},
        {QStringLiteral("http://127.0.0.1:8080/"), QStringLiteral("http://127.0.0.1:8080")},
        // Only the scheme in lower case counts as one.
        {QStringLiteral("HTTPS://sync.example.com"),
         QStringLiteral("https://HTTPS://sync.example.com")},
        {QStringLiteral("Http://sync.example.com"),
         QStringLiteral("https://Http://sync.example.com")},
        // One trailing slash goes, not two.
        {QStringLiteral("https://sync.example.com//"), QStringLiteral("https://sync.example.com/")},
        {QStringLiteral("https://sync.example.com/corvane/"),
         QStringLiteral("https://sync.example.com/corvane")},
        // Blanks alone, an empty field and the untouched "https://" all end as "https:/".
        {QStringLiteral("   "), QStringLiteral("https:/")},
        {QString(), QStringLiteral("https:/")},
        {QStringLiteral("https://"), QStringLiteral("https:/")},
        // Inside the address nothing changes.
        {QStringLiteral("sync example.com"), QStringLiteral("https://sync example.com")},
    };
    for (const auto& [typed, normalised] : cases) {
        EXPECT_EQ(normalizedServerURL(typed), normalised) << typed.toStdString();
    }
}

TEST(SetupRulesTest, CanSubmit)
{
    struct Case {
        const char* server;
        const char* email;
        const char* code;
        bool codeSent;
        bool canSubmit;
    };
    const Case cases[] = {
        {"https://", "a", "", false, true},
        {"https://", "", "", false, false},
        {"", "a", "", false, false},
        {"   ", " ", "", false, true},
        {"https://x", "a", "", true, false},
        {"https://x", "a", " ", true, true},
        {"https://x", "a", "12", true, true},
        {"", "a", "123456", true, false},
        {"https://x", "", "123456", true, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(canSubmitSetup(QString::fromUtf8(c.server), QString::fromUtf8(c.email),
                                 QString::fromUtf8(c.code), c.codeSent),
                  c.canSubmit)
            << '"' << c.server << "\" \"" << c.email << "\" \"" << c.code << "\" " << c.codeSent;
    }
}

TEST(SetupRulesTest, ANewSetupOnlyForANewServerOrFolderOrTheFirstRun)
{
    const QString server = QStringLiteral("https://sync.example.com");
    const QString folder = QStringLiteral("/home/ada/Corvane");
    struct Case {
        AppPhase phase;
        QString server;
        QString folder;
        bool newSetup;
    };
    const Case cases[] = {
        {AppPhase::setup, server, folder, true},
        {AppPhase::login, server, folder, false},
        {AppPhase::login, server + QLatin1Char('/'), folder, true},
        {AppPhase::login, QStringLiteral("https://other.example.com"), folder, true},
        {AppPhase::login, server, QStringLiteral("/home/ada/Other"), true},
        {AppPhase::ready, server, folder, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(needsNewSetup(c.phase, c.server, c.folder, server, folder), c.newSetup)
            << c.phase << ' ' << c.server.toStdString() << ' ' << c.folder.toStdString();
    }
}

}  // namespace
}  // namespace corvane::test
