#include "Sync/LocalChangeHandler.h"

#include "Sync/RecentDeletions.h"
#include "Sync/SyncEngineFixture.h"
#include "Sync/Transfers.h"

namespace corvane::test {
namespace {

// One changed path at a time, handled on the test's thread against the real server.
class LocalChangeHandlerTest : public testing::Test, public SyncEngineFixture {
protected:
    LocalChangeHandlerTest()
    {
        fs::create_directories(syncDir);
        resolver = std::make_shared<FolderResolver>(client);
        state = std::make_shared<LocalStateStore>(syncDir);
        handler = std::make_unique<LocalChangeHandler>(handlerContext(resolver, state));
    }

    std::shared_ptr<FolderResolver> resolver;
    std::shared_ptr<LocalStateStore> state;
    std::unique_ptr<LocalChangeHandler> handler;
};

TEST_F(LocalChangeHandlerTest, AFolderIsNeverHashedItsFilesAreHandedBack)
{
    writeFile(local("/Docs/a.txt"), "a");
    writeFile(local("/Docs/Sub/b.txt"), "b");
    writeFile(local("/Docs/.hidden"), "h");
    auto outcome = handler->handle("/Docs");
    std::sort(outcome.below.begin(), outcome.below.end());
    EXPECT_EQ(outcome.below, (std::vector<std::string>{"/Docs/Sub/b.txt", "/Docs/a.txt"}));
    EXPECT_FALSE(outcome.gone);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(statuses, (std::vector<SyncStatus>{SyncStatus::syncing, SyncStatus::idle}));
    EXPECT_TRUE(other->files().empty());
}

TEST_F(LocalChangeHandlerTest, AFolderThatIsThereAlsoHandsBackItsSyncedFilesThatAreGone)
{
    // What a full event queue hides: the stream then reports only the sync folder.
    writeFile(local("/Docs/here.txt"), "here");
    writeFile(local("/top.txt"), "top");
    for (const std::string path : {"/Docs/here.txt", "/Docs/gone.txt", "/Docs/Sub/gone.txt",
                                   "/Other/gone.txt", "/top.txt"}) {
        state->set(path, FileState{sha256(path), 1, ""});
    }
    const auto sorted = [](std::vector<std::string> paths) {
        std::sort(paths.begin(), paths.end());
        return paths;
    };
    const auto folder = handler->handle("/Docs");
    EXPECT_EQ(sorted(folder.below),
              (std::vector<std::string>{"/Docs/Sub/gone.txt", "/Docs/gone.txt", "/Docs/here.txt"}));
    EXPECT_FALSE(folder.gone);
    const auto root = handler->handle("/");
    EXPECT_EQ(sorted(root.below),
              (std::vector<std::string>{"/Docs/Sub/gone.txt", "/Docs/gone.txt", "/Docs/here.txt",
                                        "/Other/gone.txt", "/top.txt"}));
    EXPECT_FALSE(root.gone);
    EXPECT_TRUE(errors.empty());
    EXPECT_TRUE(other->files().empty());  // nothing is sent before each path is handled
}

TEST_F(LocalChangeHandlerTest, AFolderThatWentAwayHandsBackItsSyncedFiles)
{
    for (const std::string path : {"/Gone/a.txt", "/Gone/Sub/b.txt", "/Goner/c.txt"}) {
        state->set(path, FileState{sha256(path), 1, ""});
    }
    const auto outcome = handler->handle("/Gone");
    EXPECT_EQ(outcome.below, (std::vector<std::string>{"/Gone/Sub/b.txt", "/Gone/a.txt"}));
    EXPECT_TRUE(outcome.gone);

    // The sync folder itself missing is an unmounted folder, not a wish to empty the account.
    state->save();  // no write asked for above lands in the folder while it is removed
    fs::remove_all(syncDir);
    const auto root = handler->handle("/");
    EXPECT_TRUE(root.below.empty());
    EXPECT_FALSE(root.gone);
}

TEST_F(LocalChangeHandlerTest, ADeletionWhoseFolderCannotBeResolvedIsReportedAndKeepsItsState)
{
    state->set("/New/a.txt", FileState{sha256("a"), 1, ""});
    server.injectFault(
        {{"path_prefix", "/api/folders"}, {"method", "POST"}, {"status", 500}, {"body", "down"}});
    handler->handle("/New/a.txt");
    EXPECT_EQ(errors, std::vector<std::string>{"Sync failed: down"});
    EXPECT_EQ(statuses, std::vector<SyncStatus>{SyncStatus::syncing});
    EXPECT_TRUE(state->get("/New/a.txt"));
}

TEST_F(LocalChangeHandlerTest, AFileTheServerAlreadyLostCountsAsDeleted)
{
    resolver->load();
    other->upload("/a.txt", "a");
    state->set("/a.txt", FileState{sha256("a"), 1, ""});
    other->remove("/a.txt");
    handler->handle("/a.txt");
    EXPECT_TRUE(errors.empty());
    EXPECT_FALSE(state->get("/a.txt"));
}

}  // namespace
}  // namespace corvane::test
