#include "FinderSync/FinderSyncExtension.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

#include "API/URLEncoding.h"
#include "FinderSync/BadgeStore.h"
#include "FinderSync/FinderSyncProtocol.h"
#include "Platform/MainQueue.h"
#include "Platform/Pasteboard.h"
#include "Platform/Unicode.h"
#include "Platform/UserDefaults.h"
#include "Platform/Workspace.h"

namespace corvane {
namespace {

using Image = FinderSyncController::Image;
using MenuItem = FinderSyncController::MenuItem;
using MenuAction = FinderSyncController::MenuAction;

struct BadgeRow {
    std::string_view iconName;
    std::string_view label;
    SyncBadge badge;
};

// Registered in this order. Icon-theme names stand in for the platform's symbols.
constexpr std::array<BadgeRow, 4> kBadgeTable{{
    {"emblem-ok-symbolic", "Synced", SyncBadge::synced},
    {"emblem-synchronizing-symbolic", "Syncing", SyncBadge::syncing},
    {"emblem-important-symbolic", "Error", SyncBadge::error},
    {"list-remove-symbolic", "Not Synced", SyncBadge::ignored},
}};

constexpr const char* kToolbarIcon = "folder-remote-symbolic";
constexpr const char* kCopyLinkIcon = "insert-link-symbolic";
constexpr const char* kShareIcon = "contact-new-symbolic";
constexpr const char* kWebIcon = "web-browser-symbolic";

void assertMainThread()
{
    MainQueue::assertMainThread("CorvaneFinderSync");
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool isURLCharacter(char c)
{
    static constexpr std::string_view kOthers = "-._~:/?#[]@!$&'()*+,;=";
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           kOthers.find(c) != std::string_view::npos;
}

bool hasScheme(std::string_view text)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0) {
        return false;
    }
    const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (!isLetter(text[0])) {
        return false;
    }
    return std::all_of(
        text.begin() + 1, text.begin() + static_cast<std::ptrdiff_t>(colon), [&](char c) {
            return isLetter(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        });
}

// `text` as a URL to open, or nothing when it has no scheme. Characters that a URL cannot
// carry (blanks, non-ASCII letters, a "%" that starts no escape) are percent-encoded, as the
// desktop's URL parsers do, so that a file name with a blank still opens its page.
std::optional<std::string> urlToOpen(std::string_view text)
{
    if (!hasScheme(text)) {
        return std::nullopt;
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string url;
    url.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool escape =
            c == '%' && i + 2 < text.size() && isHexDigit(text[i + 1]) && isHexDigit(text[i + 2]);
        if (isURLCharacter(c) || escape) {
            url.push_back(c);
        } else {
            const auto byte = static_cast<unsigned char>(c);
            url.push_back('%');
            url.push_back(kHex[byte >> 4]);
            url.push_back(kHex[byte & 0x0F]);
        }
    }
    return url;
}

}  // namespace

CorvaneFinderSync::CorvaneFinderSync(FinderSyncController& controller, Pasteboard& pasteboard,
                                     Workspace& workspace,
                                     std::shared_ptr<DistributedNotificationCenter> center)
    : m_stateProvider(SyncStateProvider::shared()), m_controller(controller),
      m_pasteboard(pasteboard), m_workspace(workspace), m_center(std::move(center))
{
    assertMainThread();
    watchSyncDirectory();
    for (const auto& row : kBadgeTable) {
        const std::string label(row.label);
        m_controller.setBadgeImage(Image{std::string(row.iconName), label, true}, label,
                                   std::string(rawValue(row.badge)));
    }
    // Handlers run on the main thread and stop with the observations, before `this` goes.
    m_syncStateObservation = m_center->observe(SyncStateProvider::kChangedNotification,
                                               [this](auto&&...) { syncStateChanged(); });
    m_shareLinkObservation = m_center->observe(
        kShareLinkReadyNotification,
        [this](const std::string&, const DistributedNotificationCenter::UserInfo& userInfo) {
            shareLinkReady(userInfo);
        });
}

CorvaneFinderSync::~CorvaneFinderSync() = default;

void CorvaneFinderSync::requestBadgeIdentifier(const std::string& path)
{
    assertMainThread();
    m_controller.setBadgeIdentifier(std::string(rawValue(m_stateProvider.getBadge(path))), path);
}

std::string CorvaneFinderSync::toolbarItemName() const
{
    return "Corvane";
}

std::string CorvaneFinderSync::toolbarItemToolTip() const
{
    return "Corvane file actions";
}

FinderSyncController::Image CorvaneFinderSync::toolbarItemImage() const
{
    return Image{kToolbarIcon, "Corvane", false};
}

FinderSyncController::Menu CorvaneFinderSync::menu(FinderSyncController::MenuKind) const
{
    return {
        "Corvane",
        {
            {MenuItem::Kind::action, "Copy Corvane Link", kCopyLinkIcon, MenuAction::copyLink, ""},
            {MenuItem::Kind::action, "Share with...", kShareIcon, MenuAction::shareWith, ""},
            {MenuItem::Kind::separator, "", "", MenuAction::copyLink, ""},
            {MenuItem::Kind::action, "View on Corvane Web", kWebIcon, MenuAction::viewOnline, ""},
        }};
}

void CorvaneFinderSync::syncStateChanged()
{
    assertMainThread();
    // The notification follows a write to the suite's file: look at it now rather than after
    // the suite's next periodic check, so that the badges asked for next are the new ones.
    if (auto badges = BadgeStore::ofSuite(SyncStateProvider::kSuiteName)) {
        badges->synchronize();
    }
    watchSyncDirectory();
}

void CorvaneFinderSync::shareLinkReady(const DistributedNotificationCenter::UserInfo& userInfo)
{
    assertMainThread();
    const auto link = userInfo.find("link");
    if (link == userInfo.end()) {
        return;
    }
    m_pasteboard.clearContents();
    m_pasteboard.setString(link->second);
}

void CorvaneFinderSync::copyLink()
{
    assertMainThread();
    const auto path = firstSelectedItem();
    if (!path) {
        return;
    }
    if (const auto link = webLink(*path)) {
        m_pasteboard.clearContents();
        m_pasteboard.setString(*link);
    }
    m_center->post(kCopyLinkNotification, {{"path", *path}});
}

void CorvaneFinderSync::shareWith()
{
    assertMainThread();
    const auto path = firstSelectedItem();
    if (!path) {
        return;
    }
    if (const auto url = urlToOpen(kShareURLPrefix + percentEncodeQuery(*path))) {
        m_workspace.openURL(*url);  // whether it opened is not looked at
    }
}

void CorvaneFinderSync::viewOnline()
{
    assertMainThread();
    const auto path = firstSelectedItem();
    if (!path) {
        return;
    }
    const auto link = webLink(*path);
    if (!link) {
        return;
    }
    if (const auto url = urlToOpen(*link)) {
        m_workspace.openURL(*url);
    }
}

std::optional<std::string> CorvaneFinderSync::firstSelectedItem() const
{
    const auto items = m_controller.selectedItems();
    if (items.empty()) {
        return std::nullopt;
    }
    return items.front();
}

std::optional<std::string> CorvaneFinderSync::webLink(const std::string& path) const
{
    const auto syncDirectory = m_stateProvider.syncDirectory();
    if (!syncDirectory || syncDirectory->empty()) {
        return std::nullopt;
    }
    const auto relative = Unicode::pathBelow(path, *syncDirectory);
    if (!relative) {
        return std::nullopt;
    }
    const auto suite = UserDefaults::suite(SyncStateProvider::kSuiteName);
    const auto server = suite ? suite->string(kServerURLKey) : std::nullopt;
    return server.value_or(kDefaultServerURL) + "/files" + *relative;
}

void CorvaneFinderSync::watchSyncDirectory()
{
    const auto syncDirectory = m_stateProvider.syncDirectory();
    if (syncDirectory && !syncDirectory->empty()) {
        m_controller.setWatchedFolders({*syncDirectory});
    }
}

}  // namespace corvane
