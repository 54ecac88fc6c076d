#include "Sync/PushEventHandler.h"

#include "Sync/RecentDeletions.h"
#include "Sync/SyncEngineFixture.h"
#include "Sync/Transfers.h"

namespace corvane::test {
namespace {

// One push event at a time, handled on the test's thread against the real server, with the
// engine's pieces built as the engine builds them.
class PushEventHandlerTest : public testing::Test, public SyncEngineFixture {
protected:
    PushEventHandlerTest()
    {
        fs::create_directories(syncDir);
        other->upload("/Docs/seed.txt", "seed");  // the folder /Docs exists on the server
        resolver = std::make_shared<FolderResolver>(client);
        resolver->load();
        state = std::make_shared<LocalStateStore>(syncDir);
        handler = std::make_unique<PushEventHandler>(handlerContext(resolver, state));
    }

    // A server folder's id by its path.
    std::string folderId(const std::string& path) const
    {
        for (const Folder& folder : client->listFolders()) {
            if (folder.path == path) {
                return folder.id;
            }
        }
        return resolver->resolve(path + "/x");
    }

    FileChangedEvent event(const std::string& action, std::optional<std::string> path,
                           const std::string& content, std::optional<std::string> folder = {},
                           std::optional<std::int64_t> version = 1) const
    {
        FileChangedEvent event;
        event.id = "e";
        event.action = action;
        event.path = std::move(path);
        event.hash = sha256(content);
        event.version = version;
        event.folderId = std::move(folder);
        return event;
    }

    // Handles the event and returns the reports it made.
    std::vector<std::string> handle(const FileChangedEvent& pushed)
    {
        {
            std::lock_guard lock(mutex);
            statuses.clear();
            errors.clear();
        }
        handler->handle(pushed);
        std::lock_guard lock(mutex);
        return errors;
    }

    void expectIdleEnd()
    {
        std::lock_guard lock(mutex);
        EXPECT_TRUE(errors.empty()) << errors.front();
        EXPECT_EQ(statuses, (std::vector<SyncStatus>{SyncStatus::syncing, SyncStatus::idle}));
    }

    std::shared_ptr<FolderResolver> resolver;
    std::shared_ptr<LocalStateStore> state;
    std::unique_ptr<PushEventHandler> handler;
};

TEST_F(PushEventHandlerTest, EventPathsAreJoinedWithTheirFolderAndGivenOneLeadingSlash)
{
    other->upload("/x.txt", "content");
    const std::string docs = folderId("/Docs");
    const std::string root = resolver->resolve("/x.txt");
    struct Case {
        std::optional<std::string> path;
        std::optional<std::string> folder;
        std::string expected;
    };
    const Case cases[] = {
        {"notes.txt", root, "/notes.txt"},  // root file without its "/": nothing cut off
        {"/top.txt", root, "/top.txt"},     {"a.txt", docs, "/Docs/a.txt"},
        {"/b.txt", docs, "/Docs/b.txt"},    {"/Docs/c.txt", docs, "/Docs/c.txt"},
        {"/d.txt", std::nullopt, "/d.txt"},  // no folder: no join
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_TRUE(handle(event("create", c.path, "content", c.folder)).empty());
        expectIdleEnd();
        EXPECT_EQ(readFile(local(c.expected)), "content");
        EXPECT_EQ(state->get(c.expected).value_or(FileState{}).hash, sha256("content"));
    }
}

TEST_F(PushEventHandlerTest, PathsThatEscapeOrHideAreRefusedAndWriteNothing)
{
    other->upload("/x.txt", "evil");
    TempDir outside;
    fs::create_symlink(outside.path(), syncDir / "Link");
    const std::string paths[] = {
        "../escape.txt", "/Docs/../../escape.txt", "/.corvane/sync_state.json",  "/.hidden",
        "/a//b.txt",     "/Link/through.txt",      std::string("/nul\0.txt", 9), "/bad\xff.txt"};
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        EXPECT_TRUE(handle(event("create", path, "evil")).empty());
        expectIdleEnd();
        EXPECT_TRUE(handle(event("delete", path, "evil")).empty());
    }
    EXPECT_TRUE(fs::is_empty(outside.path()));
    EXPECT_FALSE(fs::exists(syncDir.parent_path() / "escape.txt"));
    EXPECT_FALSE(fs::exists(syncDir / ".corvane" / "sync_state.json"));
    EXPECT_TRUE(state->snapshot().empty());
}

TEST_F(PushEventHandlerTest, ContentThatDoesNotMatchItsHashIsNeverWritten)
{
    other->upload("/x.txt", "announced");
    writeFile(local("/x.txt"), "before");
    state->set("/x.txt", FileState{sha256("before"), 1, ""});
    server.injectFault({{"path_prefix", "/api/sync/download/" + sha256("announced")},
                        {"status", 200},
                        {"body", "tampered"}});
    const auto errorsSeen = handle(event("update", "/x.txt", "announced", {}, 2));
    ASSERT_EQ(errorsSeen.size(), 1u);
    EXPECT_EQ(errorsSeen[0].rfind("Sync error: ", 0), 0u) << errorsSeen[0];
    EXPECT_EQ(readFile(local("/x.txt")), "before");
    EXPECT_EQ(state->get("/x.txt")->hash, sha256("before"));
    for (const auto& entry : fs::directory_iterator(syncDir)) {
        EXPECT_EQ(entry.path().filename().string().find(".corvane-download"), std::string::npos);
    }
}

TEST_F(PushEventHandlerTest, NewContentNeverOverwritesAnEditTheServerHasNotSeen)
{
    other->upload("/f.txt", "server v2");
    struct Case {
        const char* name;
        std::optional<std::string> local;   // the file on disk, none when missing
        std::optional<std::string> stored;  // the content of the stored state
        std::string expectedFile;
        bool conflictCopy;
    };
    const Case cases[] = {
        {"missing", std::nullopt, std::nullopt, "server v2", false},
        {"unchanged since the last sync", "v1", "v1", "server v2", false},
        {"edited since the last sync", "local edit", "v1", "local edit", true},
        {"never synced", "local only", std::nullopt, "local only", true},
        {"already holding it", "server v2", "v1", "server v2", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        state->save();  // no write of the case before lands in the folder while it is emptied
        fs::remove_all(syncDir);
        fs::create_directories(syncDir);
        state->remove("/f.txt");
        if (c.local) {
            writeFile(local("/f.txt"), *c.local);
        }
        if (c.stored) {
            state->set("/f.txt", FileState{sha256(*c.stored), 1, ""});
        }
        EXPECT_TRUE(handle(event("update", "/f.txt", "server v2", {}, 2)).empty());
        expectIdleEnd();
        EXPECT_EQ(readFile(local("/f.txt")), c.expectedFile);
        const auto copies = conflictCopies("/");
        ASSERT_EQ(copies.size(), c.conflictCopy ? 1u : 0u);
        if (c.conflictCopy) {
            EXPECT_EQ(copies[0].rfind("f (conflict - remote - ", 0), 0u) << copies[0];
            EXPECT_EQ(readFile(syncDir / copies[0]), "server v2");
        } else {
            EXPECT_EQ(state->get("/f.txt").value_or(FileState{}).hash, sha256("server v2"));
            EXPECT_EQ(state->get("/f.txt").value_or(FileState{}).version, 2);
        }
    }
}

TEST_F(PushEventHandlerTest, AnEventOlderThanTheStoredVersionChangesNothing)
{
    other->upload("/f.txt", "old");
    writeFile(local("/f.txt"), "new");
    state->set("/f.txt", FileState{sha256("new"), 5, ""});
    EXPECT_TRUE(handle(event("update", "/f.txt", "old", {}, 4)).empty());
    expectIdleEnd();
    EXPECT_EQ(readFile(local("/f.txt")), "new");
    EXPECT_EQ(state->get("/f.txt")->version, 5);
    EXPECT_TRUE(conflictCopies("/").empty());
}

TEST_F(PushEventHandlerTest, ADeletionRemovesOnlyAnUnchangedFile)
{
    struct Case {
        const char* name;
        std::optional<std::string> local;
        std::optional<std::string> stored;
        bool removed;
    };
    const Case cases[] = {
        {"unchanged", "v1", "v1", true},
        {"edited since the last sync", "edit", "v1", false},
        {"never synced", "local only", std::nullopt, false},
        {"already gone", std::nullopt, "v1", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        state->remove("/d.txt");
        fs::remove(local("/d.txt"));
        if (c.local) {
            writeFile(local("/d.txt"), *c.local);
        }
        if (c.stored) {
            state->set("/d.txt", FileState{sha256(*c.stored), 1, ""});
        }
        EXPECT_TRUE(handle(event("delete", "/d.txt", "v1")).empty());
        expectIdleEnd();
        EXPECT_EQ(fs::exists(local("/d.txt")), !c.removed && c.local);
        EXPECT_EQ(state->get("/d.txt").has_value(), c.stored && !c.removed);
    }

    // A folder where the server had a file stays, with everything in it.
    writeFile(local("/Folder/inside.txt"), "kept");
    state->set("/Folder", FileState{sha256("v1"), 1, ""});
    EXPECT_TRUE(handle(event("delete", "/Folder", "v1")).empty());
    EXPECT_EQ(readFile(local("/Folder/inside.txt")), "kept");
    EXPECT_FALSE(state->get("/Folder"));
}

TEST_F(PushEventHandlerTest, ExclusionSkipsContentButNotDeletions)
{
    other->upload("/Private/p.txt", "private");
    selective->exclude("/Private");
    EXPECT_TRUE(handle(event("create", "/Private/p.txt", "private")).empty());
    expectIdleEnd();
    EXPECT_FALSE(fs::exists(local("/Private/p.txt")));

    writeFile(local("/Private/old.txt"), "old");
    state->set("/Private/old.txt", FileState{sha256("old"), 1, ""});
    EXPECT_TRUE(handle(event("delete", "/Private/old.txt", "old")).empty());
    EXPECT_FALSE(fs::exists(local("/Private/old.txt")));
}

TEST_F(PushEventHandlerTest, EventsWithoutWhatTheirActionNeedsOnlyReportStatus)
{
    FileChangedEvent noHash = event("create", "/a.txt", "x");
    noHash.hash.reset();
    for (const FileChangedEvent& pushed :
         {noHash, event("rename", "/a.txt", "x"), event("create", std::nullopt, "x")}) {
        EXPECT_TRUE(handle(pushed).empty());
        expectIdleEnd();
    }
    EXPECT_FALSE(fs::exists(local("/a.txt")));
}

}  // namespace
}  // namespace corvane::test
