// The Account tab: its two faces, "Log Out", and the walks of the sync folder, which run in the
// background one at a time.
#include "MenuBar/AccountTab.h"

#include <mutex>
#include <semaphore>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTimer>

#include "MenuBar/AccountTabWalker.h"
#include "MenuBar/SettingsTestSupport.h"
#include "Models/ActivityItem.h"
#include "support/FileContents.h"

namespace corvane::test {
namespace {

constexpr int kAccountTab = 3;
constexpr const char* kEmail = "ada@example.com";

// A walk that records its folders and ends only when the test lets it. Thread-safe.
class HeldWalks {
public:
    ~HeldWalks() { m_permits.release(1000); }

    AccountTabWalker::Walk walk()
    {
        return [this](const fs::path& folder, std::stop_token) {
            std::size_t count = 0;
            {
                std::lock_guard lock(m_mutex);
                m_folders.push_back(folder);
                count = m_folders.size();
            }
            m_permits.acquire();
            return std::optional<LocalFolderUsage>(
                LocalFolderUsage{static_cast<std::int64_t>(count), 0});
        };
    }

    void release() { m_permits.release(); }

    std::vector<fs::path> folders() const
    {
        std::lock_guard lock(m_mutex);
        return m_folders;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<fs::path> m_folders;
    std::counting_semaphore<> m_permits{0};
};

class AccountTabWalkerTest : public testing::Test, public AppFixture {
protected:
    bool walksStarted(std::size_t count)
    {
        return runUntil([&] { return walks.folders().size() == count; }, 5s);
    }

    HeldWalks walks;
};

TEST_F(AccountTabWalkerTest, OneWalkAtATimeAndExactlyOneMoreForRequestsDuringIt)
{
    AccountTabWalker walker(walks.walk());
    int results = 0;
    QObject::connect(&walker, &AccountTabWalker::resultChanged, [&] { ++results; });

    walker.request("/first");
    ASSERT_TRUE(walksStarted(1));
    walker.request("/second");
    walker.request("/third");
    EXPECT_TRUE(walker.isWalking());
    EXPECT_FALSE(walker.hasResult());

    walks.release();
    ASSERT_TRUE(runUntil([&] { return results == 1; }));
    ASSERT_TRUE(walksStarted(2));
    EXPECT_TRUE(walker.isWalking());
    walks.release();
    ASSERT_TRUE(runUntil([&] { return results == 2; }));
    EXPECT_FALSE(walker.isWalking());
    // The requests made during the first walk became one walk, of the latest folder.
    EXPECT_EQ(walks.folders(), (std::vector<fs::path>{"/first", "/third"}));
}

TEST_F(AccountTabWalkerTest, TheLastResultStaysUntilTheNextArrives)
{
    AccountTabWalker walker(walks.walk());
    walker.request("/folder");
    walks.release();
    ASSERT_TRUE(runUntil([&] { return walker.hasResult(); }));
    EXPECT_EQ(walker.result(), (LocalFolderUsage{1, 0}));

    walker.request("/folder");
    ASSERT_TRUE(walksStarted(2));
    EXPECT_EQ(walker.result(), (LocalFolderUsage{1, 0}));
    walks.release();
    ASSERT_TRUE(runUntil([&] { return !walker.isWalking(); }));
    EXPECT_EQ(walker.result(), (LocalFolderUsage{2, 0}));
}

TEST_F(AccountTabWalkerTest, AWalkStillRunningWhenTheWalkerGoesIsToldToStop)
{
    std::atomic<bool> stopped = false;
    std::binary_semaphore started{0};
    {
        AccountTabWalker walker([&](const fs::path&, std::stop_token stop) {
            started.release();
            while (!stop.stop_requested()) {
                std::this_thread::yield();
            }
            stopped = true;
            return std::optional<LocalFolderUsage>();
        });
        walker.request("/folder");
        started.acquire();
    }
    EXPECT_TRUE(runUntil([&] { return stopped.load(); }, 5s));
}

class AccountTabTest : public testing::Test, public SettingsFixture {
protected:
    AccountTabTest()
    {
        storeSetupDone();
        storeSetting("serverURL", "http://127.0.0.1:9");
        storeSetting("syncDir", syncDir.string());
    }

    // Signed in with no engine: a pause before the sign-in keeps sync from starting.
    AppState& signedIn()
    {
        AppState& appState = makeState();
        appState.togglePause();
        appState.login(QStringLiteral("token"), kEmail);
        return appState;
    }

    const AccountTabWalker& walker() const { return view->accountTab()->walker(); }

    bool walked()
    {
        return runUntil([&] { return walker().hasResult() && !walker().isWalking(); });
    }

    fs::path syncDir = home.path() / "Corvane";
};

TEST_F(AccountTabTest, SignedInShowsTheAccountAndWhatTheFolderHolds)
{
    writeFileContents(syncDir / "a.txt", std::string(1500, 'a'));
    writeFileContents(syncDir / "docs/b.txt", std::string(2000, 'b'));
    writeFileContents(syncDir / ".corvane/sync_state.json", std::string(9000, '{'));
    signedIn();
    showView();
    showTab(kAccountTab);
    ASSERT_TRUE(walked());

    EXPECT_TRUE(find<QWidget>("accountSection")->isVisible());
    EXPECT_FALSE(find<QWidget>("notLoggedInText")->isVisible());
    EXPECT_EQ(text("accountEmailValue"), kEmail);
    EXPECT_EQ(text("accountStatusValue"), "Paused");
    EXPECT_EQ(text("accountSyncDirValue"), syncDir.string());
    EXPECT_EQ(text("localFilesValue"), "2 files");
    // The folder "docs" adds its own size; the hidden state file adds nothing.
    struct stat docs {};
    ASSERT_EQ(::lstat((syncDir / "docs").c_str(), &docs), 0);
    EXPECT_EQ(text("localSizeValue"), formattedBytes(1500 + 2000 + docs.st_size));
    EXPECT_EQ(find<QPushButton>("logOutButton")->text().toStdString(), "Log Out");

    // Assistive tools read each value by its name, beside its row's caption.
    for (const auto& [value, caption] :
         {std::pair{"accountEmailValue", "Email"}, std::pair{"accountStatusValue", "Status"},
          std::pair{"accountSyncDirValue", "Sync Folder"},
          std::pair{"localFilesValue", "Local files"}, std::pair{"localSizeValue", "Local size"}}) {
        SCOPED_TRACE(value);
        auto* label = find<QLabel>(value);
        EXPECT_EQ(label->accessibleName(), label->text());
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(label);
        ASSERT_NE(accessible, nullptr);
        // Labelled by its caption (and by its section's title).
        std::vector<std::string> labels;
        for (const auto& [labeller, relation] : accessible->relations(QAccessible::Label)) {
            labels.push_back(labeller->text(QAccessible::Name).toStdString());
        }
        EXPECT_NE(std::find(labels.begin(), labels.end(), caption), labels.end());
    }
}

TEST_F(AccountTabTest, SignedOutShowsOnlyNotLoggedInAndWalksNothing)
{
    writeFileContents(syncDir / "a.txt", "alpha");
    makeState();
    showView();
    showTab(kAccountTab);
    QTest::qWait(50);

    EXPECT_TRUE(find<QLabel>("notLoggedInText")->isVisible());
    EXPECT_EQ(text("notLoggedInText"), "Not logged in");
    EXPECT_FALSE(find<QWidget>("accountSection")->isVisible());
    EXPECT_FALSE(find<QWidget>("logOutButton")->isVisible());
    EXPECT_FALSE(walker().isWalking());
    EXPECT_FALSE(walker().hasResult());
}

TEST_F(AccountTabTest, LogOutSignsOutOnceAndTurnsTheTabToNotLoggedIn)
{
    AppState& appState = signedIn();
    showView();
    showTab(kAccountTab);
    int signOuts = 0;
    QObject::connect(&appState, &AppState::isLoggedInChanged, [&] { ++signOuts; });

    QTest::mouseClick(find<QPushButton>("logOutButton"), Qt::LeftButton);
    EXPECT_EQ(signOuts, 1);
    EXPECT_FALSE(appState.isLoggedIn());
    EXPECT_EQ(appState.phase(), AppPhase::login);
    EXPECT_FALSE(KeychainHelper::load(KeychainHelper::kAuthTokenKey));
    EXPECT_TRUE(find<QLabel>("notLoggedInText")->isVisible());
}

TEST_F(AccountTabTest, AMissingFolderReadsZeroFilesAndZeroBytes)
{
    signedIn();
    showView();
    showTab(kAccountTab);
    ASSERT_TRUE(walked());
    EXPECT_EQ(text("localFilesValue"), "0 files");
    EXPECT_EQ(text("localSizeValue"), "0 B");
}

TEST_F(AccountTabTest, TheFiguresFollowTheFolderWhileTheTabIsShown)
{
    fs::create_directories(syncDir);
    AppState& appState = signedIn();
    showView();
    showTab(kAccountTab);
    ASSERT_TRUE(walked());
    EXPECT_EQ(text("localFilesValue"), "0 files");
    EXPECT_EQ(text("localSizeValue"), "0 bytes");

    const fs::path other = home.path() / "Other";
    writeFileContents(other / "one.txt", "1");
    appState.setSyncDir(QString::fromStdString(other.string()));
    EXPECT_EQ(text("accountSyncDirValue"), other.string());
    ASSERT_TRUE(runUntil([&] { return text("localFilesValue") == "1 files"; }));
}

TEST_F(AccountTabTest, ALongFolderPathIsShortenedOnScreenOnly)
{
    AppState& appState = signedIn();
    const std::string longPath =
        (home.path() / "Documents/Work/Clients/Northwind Traders/Quarterly Reports/Corvane Sync")
            .string();
    appState.setSyncDir(QString::fromStdString(longPath));
    showView();
    showTab(kAccountTab);
    ASSERT_TRUE(walked());
    auto* value = find<QLabel>("accountSyncDirValue");
    EXPECT_EQ(value->text().toStdString(), longPath);
    EXPECT_EQ(value->accessibleName().toStdString(), longPath);
    EXPECT_LE(value->geometry().right(), view->width());
    savePicture("settings-account-long-folder");
}

// 100,000 files in 100 folders, made quickly with empty files.
void makeManyFiles(const fs::path& root, int folders, int filesPerFolder)
{
    for (int folder = 0; folder < folders; ++folder) {
        const fs::path dir = root / ("f" + std::to_string(folder));
        fs::create_directories(dir);
        for (int file = 0; file < filesPerFolder; ++file) {
            const fs::path path = dir / (std::to_string(file) + ".txt");
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            ASSERT_GE(fd, 0) << path;
            ::close(fd);
        }
    }
}

TEST_F(AccountTabTest, TheEventLoopTurnsWhileAHundredThousandFilesAreWalked)
{
    makeManyFiles(syncDir, 100, 1000);
    const fs::path small = home.path() / "Small";
    writeFileContents(small / "a.txt", "a");
    writeFileContents(small / "b.txt", "b");
    AppState& appState = signedIn();
    showView();

    std::vector<std::string> shown;
    QObject::connect(&walker(), &AccountTabWalker::resultChanged,
                     [&] { shown.push_back(text("localFilesValue")); });
    int turns = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (walker().isWalking()) {
            ++turns;
        }
    });
    ticker.start(0);

    showTab(kAccountTab);
    // The walk runs elsewhere: the show has returned and the figures are not there yet.
    EXPECT_TRUE(walker().isWalking());
    EXPECT_FALSE(walker().hasResult());
    // A change while the walk runs: one more walk, of the new folder, once this one ends.
    appState.setSyncDir(QString::fromStdString(small.string()));

    ASSERT_TRUE(runUntil([&] { return shown.size() == 2; }, 60s));
    EXPECT_EQ(shown, (std::vector<std::string>{"100000 files", "2 files"}));
    EXPECT_GT(turns, 10);
    EXPECT_FALSE(walker().isWalking());
}

}  // namespace
}  // namespace corvane::test
