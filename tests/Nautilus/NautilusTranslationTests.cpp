#include "Nautilus/NautilusTranslation.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

using Image = FinderSyncController::Image;
using MenuAction = FinderSyncController::MenuAction;
using SourceItem = FinderSyncController::MenuItem;

TEST(NautilusTranslationTest, EmblemIsTheIconRegisteredForTheBadgeIdentifier)
{
    const std::map<std::string, Image> images{
        {"synced", {"emblem-ok-symbolic", "Synced", true}},
        {"syncing", {"emblem-synchronizing-symbolic", "Syncing", true}},
        {"ignored", {"list-remove-symbolic", "Not Synced", true}},
        {"prefix", {"emblem-", "Prefix only", true}},
        {"blank", {"", "Blank", true}},
    };
    // Nautilus adds "emblem-" again when it looks the icon up.
    EXPECT_EQ(NautilusTranslation::emblemName(images, "synced"), "ok-symbolic");
    EXPECT_EQ(NautilusTranslation::emblemName(images, "syncing"), "synchronizing-symbolic");
    EXPECT_EQ(NautilusTranslation::emblemName(images, "ignored"), "list-remove-symbolic");
    EXPECT_EQ(NautilusTranslation::emblemName(images, "prefix"), "emblem-");
    // An identifier without an image shows nothing, as the platform does.
    EXPECT_EQ(NautilusTranslation::emblemName(images, "error"), std::nullopt);
    EXPECT_EQ(NautilusTranslation::emblemName(images, "blank"), std::nullopt);
    EXPECT_EQ(NautilusTranslation::emblemName({}, "synced"), std::nullopt);
}

TEST(NautilusTranslationTest, MenuBecomesOneTitledItemWithTheActionsAndNoSeparator)
{
    const FinderSyncController::Menu menu{
        "Corvane",
        {
            {SourceItem::Kind::action, "Copy Corvane Link", "insert-link-symbolic",
             MenuAction::copyLink, ""},
            {SourceItem::Kind::action, "Share with...", "contact-new-symbolic",
             MenuAction::shareWith, ""},
            {SourceItem::Kind::separator, "", "", MenuAction::copyLink, ""},
            {SourceItem::Kind::action, "View on Corvane Web", "web-browser-symbolic",
             MenuAction::viewOnline, ""},
        }};
    const NautilusTranslation::Menu expected{
        "CorvaneFinderSync::menu",
        "Corvane",
        {
            {"CorvaneFinderSync::copyLink", "Copy Corvane Link", "insert-link-symbolic",
             MenuAction::copyLink},
            {"CorvaneFinderSync::shareWith", "Share with...", "contact-new-symbolic",
             MenuAction::shareWith},
            {"CorvaneFinderSync::viewOnline", "View on Corvane Web", "web-browser-symbolic",
             MenuAction::viewOnline},
        }};
    EXPECT_EQ(NautilusTranslation::describeMenu(menu), expected);

    const FinderSyncController::Menu onlySeparators{
        "Corvane", {{SourceItem::Kind::separator, "", "", MenuAction::copyLink, ""}}};
    EXPECT_TRUE(NautilusTranslation::describeMenu(onlySeparators).items.empty());
}

TEST(NautilusTranslationTest, InsideAFolderOnlyAtASlashBoundary)
{
    const std::string cafe = "Caf\xC3\xA9";
    const std::string cafeDecomposed = "Cafe\xCC\x81";
    struct Case {
        std::string path;
        std::set<std::string> folders;
        bool inside;
    };
    const std::vector<Case> cases{
        {"/home/u/Sync", {"/home/u/Sync"}, true},
        {"/home/u/Sync/a.txt", {"/home/u/Sync"}, true},
        {"/home/u/Sync/d/e/f", {"/home/u/Sync"}, true},
        {"/home/u/Sync/a.txt", {"/home/u/Sync/"}, true},
        {"/home/u/Sync2/a.txt", {"/home/u/Sync"}, false},
        {"/home/u/Sync.txt", {"/home/u/Sync"}, false},
        {"/home/u", {"/home/u/Sync"}, false},
        {"/tmp/a", {"/home/u/Sync", "/tmp"}, true},
        {"/tmp/a", {}, false},
        {"/tmp/a", {""}, false},
        {"/tmp/a", {"/"}, true},
        {"/home/u/" + cafeDecomposed + "/a", {"/home/u/" + cafe}, true},
        {"/home/u/" + cafe + "/a", {"/home/u/" + cafeDecomposed}, true},
        {"/home/u/" + cafe + "/a", {"/home/u/Cafe"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(NautilusTranslation::isInsideAnyFolder(c.path, c.folders), c.inside);
    }
}

}  // namespace
}  // namespace corvane
