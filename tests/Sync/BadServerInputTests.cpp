#include "Sync/SyncEngine.h"

#include <ostream>
#include <set>

#include "Sync/SyncEngineFixture.h"

// What a misbehaving server can do to the engine: malformed and mistyped answers, paths that
// escape, content that does not match its hash, garbage on the push channel. The engine reports
// the error, writes nothing wrong, stays up and recovers once the server behaves again.
namespace corvane::test {
namespace {

class BadServerInputTest : public testing::Test, public SyncEngineFixture {
protected:
    BadServerInputTest() : SyncEngineFixture({}, quick()) {}

    // Runs one start-up cycle (stopping the engine after it) and returns the errors reported.
    std::vector<std::string> cycleErrors()
    {
        {
            std::lock_guard lock(mutex);
            statuses.clear();
            errors.clear();
        }
        auto engine = makeEngine();
        engine->start();
        EXPECT_TRUE(waitUntil([&] {
            std::lock_guard lock(mutex);
            return !errors.empty() ||
                   std::find(statuses.begin(), statuses.end(), SyncStatus::idle) != statuses.end();
        }));
        engine->stop();
        std::lock_guard lock(mutex);
        return errors;
    }

    std::string folderId(const std::string& path) const
    {
        for (const Folder& folder : client->listFolders()) {
            if (folder.path == path) {
                return folder.id;
            }
        }
        ADD_FAILURE() << "no folder " << path;
        return {};
    }

    // Runs one start-up cycle that reports no error; returns what it logged.
    std::string loggedCycle()
    {
        testing::internal::CaptureStdout();
        EXPECT_TRUE(cycleErrors().empty());
        return testing::internal::GetCapturedStdout();
    }

    // Makes the tree of the folder `folderPath`, as the next start-up reads it (twice), hold
    // `value` at the JSON pointer `pointer`.
    void patchTree(const std::string& folderPath, const std::string& pointer,
                   const nlohmann::json& value)
    {
        server.injectFault({{"path_prefix", "/api/folders/" + folderId(folderPath) + "/tree"},
                            {"count", 2},
                            {"patch", {{{"op", "replace"}, {"path", pointer}, {"value", value}}}}});
    }

    void expectStateFileIntact() const
    {
        const fs::path file = syncDir / ".corvane" / "sync_state.json";
        EXPECT_TRUE(LocalStateStore::decode(readFile(file)).has_value()) << readFile(file);
    }
};

TEST_F(BadServerInputTest, TreePathsThatEscapeAreRefusedAndTheRestSyncs)
{
    other->upload("/fine.txt", "fine");
    other->upload("/Docs/a.txt", "a");
    ASSERT_TRUE(cycleErrors().empty());
    const std::string escaping[] = {"../../escaped.txt",         "/../escaped.txt",
                                    "a/../../escaped.txt",       "/tmp/../../escaped.txt",
                                    "/.corvane/sync_state.json", "/Docs/.hidden/x.txt"};
    for (const std::string& path : escaping) {
        SCOPED_TRACE(path);
        other->upload("/late-" + std::to_string(path.size()) + ".txt", "late");
        patchTree("/Docs", "/files/0/path", path);
        const std::string log = loggedCycle();
        EXPECT_NE(log.find("error=refused server path"), std::string::npos) << log;
        EXPECT_EQ(readFile(local("/late-" + std::to_string(path.size()) + ".txt")), "late");
        expectStateFileIntact();
    }
    for (const fs::path& outside : {syncDir.parent_path() / "escaped.txt",
                                    syncDir.parent_path().parent_path() / "escaped.txt",
                                    fs::path("/tmp/escaped.txt"), fs::path("/escaped.txt")}) {
        EXPECT_FALSE(fs::exists(outside)) << outside;
    }
    EXPECT_FALSE(fs::exists(local("/Docs/.hidden")));
    // A tree the engine had to refuse a record of is no ground for deleting anything.
    EXPECT_EQ(readFile(local("/Docs/a.txt")), "a");
}

TEST_F(BadServerInputTest, TreeFolderPathsThatEscapeCreateNothing)
{
    other->upload("/Docs/Sub/a.txt", "a");
    ASSERT_TRUE(cycleErrors().empty());
    const std::string escaping[] = {"/../../escaped", "../escaped", "/.corvane/evil",
                                    "/Docs/.hidden", "/Docs//gap"};
    for (const std::string& path : escaping) {
        SCOPED_TRACE(path);
        patchTree("/Docs", "/children/0/path", path);
        const std::string log = loggedCycle();
        EXPECT_NE(log.find("sync error path=" + path + " error=refused server path"),
                  std::string::npos)
            << log;
        expectStateFileIntact();
    }
    for (const fs::path& created :
         {syncDir.parent_path() / "escaped", syncDir.parent_path().parent_path() / "escaped",
          syncDir / ".corvane" / "evil", syncDir / "Docs" / ".hidden", syncDir / "Docs" / "gap"}) {
        EXPECT_FALSE(fs::exists(created)) << created;
    }
    // The sub-folder's files could not be placed: no ground for deleting them here.
    EXPECT_EQ(readFile(local("/Docs/Sub/a.txt")), "a");
}

TEST_F(BadServerInputTest, ARefusedRecordHoldsBackOnlyTheDeletionsOfItsFolder)
{
    other->upload("/A/kept.txt", "kept");
    other->upload("/A/gone.txt", "gone");
    other->upload("/B/gone.txt", "gone");
    ASSERT_TRUE(cycleErrors().empty());
    other->remove("/A/gone.txt");
    other->remove("/B/gone.txt");
    patchTree("/A", "/files/0/path", "../../escaped.txt");
    EXPECT_TRUE(cycleErrors().empty());
    // The refused record may be /A/gone.txt under another name: that copy stays.
    EXPECT_EQ(localContents(), (std::map<std::string, std::string>{{"/A/gone.txt", "gone"},
                                                                   {"/A/kept.txt", "kept"}}));
    EXPECT_FALSE(storedState("/B/gone.txt"));
    expectStateFileIntact();
}

TEST_F(BadServerInputTest, AConflictCopyTakesTheServersNameOnceItIsFit)
{
    writeFile(local("/Docs/report.pdf"), "v1");
    ASSERT_TRUE(cycleErrors().empty());
    other->upload("/Docs/report.pdf", "server");
    writeFile(local("/Docs/report.pdf"), "local");
    const std::string refused[] = {"",        "..",          ".hidden",
                                   "a/b.pdf", "../../x.pdf", std::string("a\0b.pdf", 7)};
    for (const std::string& name : refused) {
        SCOPED_TRACE(name);
        patchTree("/Docs", "/files/0/name", name);
        const std::string log = loggedCycle();
        const auto errors = logFields(log, "sync error");
        ASSERT_EQ(errors.size(), 1u) << log;
        EXPECT_EQ(errors[0].rfind(" path=/Docs/report.pdf error=Refused the server name", 0), 0u)
            << errors[0];
        // The whole entry is refused: nothing is written, and the local version is not sent.
        EXPECT_EQ(localContents(),
                  (std::map<std::string, std::string>{{"/Docs/report.pdf", "local"}}));
        EXPECT_TRUE(serverHas("/Docs/report.pdf", "server"));
    }
    patchTree("/Docs", "/files/0/name", "Quarterly.txt");
    EXPECT_TRUE(cycleErrors().empty());
    const auto copies = conflictCopies("/Docs");
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(copies[0].rfind("Quarterly (conflict - remote - ", 0), 0u) << copies[0];
    EXPECT_TRUE(copies[0].ends_with(").txt")) << copies[0];
    EXPECT_EQ(readFile(local("/Docs/" + copies[0])), "server");
    EXPECT_TRUE(serverHas("/Docs/report.pdf", "local"));
}

TEST_F(BadServerInputTest, AnUploadTheServerNeitherHasNorAsksForFails)
{
    writeFile(local("/new.txt"), "new");
    server.injectFault({{"path_prefix", "/api/sync/upload/init"},
                        {"method", "POST"},
                        {"patch", {{{"op", "remove"}, {"path", "/upload_id"}}}}});
    EXPECT_TRUE(cycleErrors().empty());  // one file failing is not a failed cycle
    EXPECT_EQ(SyncStateProvider::shared().getBadge(local("/new.txt").string()), SyncBadge::error);
    EXPECT_FALSE(storedState("/new.txt"));
    EXPECT_TRUE(serverLacks("/new.txt"));
    const auto& recent = activity->recentActivities();
    ASSERT_FALSE(recent.empty());
    EXPECT_EQ(recent.front().fileName, "new.txt");
    EXPECT_EQ(recent.front().status, ActivityStatus::failed);
}

TEST_F(BadServerInputTest, MalformedOrMistypedAnswersFailTheStartAndTheNextStartRecovers)
{
    other->upload("/Docs/a.txt", "a");
    const std::string docs = folderId("/Docs");
    const nlohmann::json faults[] = {
        {{"path_prefix", "/api/folders"}, {"method", "GET"}, {"malformed_json", true}},
        {{"path_prefix", "/api/folders/" + docs + "/tree"},
         {"count", 2},  // the start-up reads the tree twice
         {"patch", {{{"op", "replace"}, {"path", "/files/0/size"}, {"value", "12"}}}}},
    };
    for (const nlohmann::json& fault : faults) {
        SCOPED_TRACE(fault.dump());
        server.injectFault(fault);
        const auto reported = cycleErrors();
        ASSERT_EQ(reported.size(), 1u);
        EXPECT_FALSE(reported[0].empty());
        EXPECT_FALSE(fs::exists(local("/Docs/a.txt")));
        server.clearFaults();
        EXPECT_TRUE(cycleErrors().empty());
        EXPECT_EQ(readFile(local("/Docs/a.txt")), "a");
        fs::remove_all(syncDir);
    }
}

TEST_F(BadServerInputTest, ContentThatDoesNotMatchItsHashIsRefusedUntilTheServerHealsIt)
{
    writeFile(local("/c.txt"), "before");
    ASSERT_TRUE(cycleErrors().empty());
    other->upload("/c.txt", "after");
    server.injectFault({{"path_prefix", "/api/sync/download/"}, {"corrupt_content", true}});
    EXPECT_TRUE(cycleErrors().empty());  // one file failing is not a failed cycle
    EXPECT_EQ(readFile(local("/c.txt")), "before");
    EXPECT_EQ(SyncStateProvider::shared().getBadge(local("/c.txt").string()), SyncBadge::error);
    EXPECT_EQ(storedState("/c.txt").value_or(FileState{}).hash, sha256("before"));
    EXPECT_TRUE(cycleErrors().empty());
    EXPECT_EQ(readFile(local("/c.txt")), "after");
}

TEST_F(BadServerInputTest, GarbageOnThePushChannelIsDroppedAndTheNextChangeArrives)
{
    startLive();
    const nlohmann::json pushes[] = {
        {{"kind", "not_json"}},
        {{"kind", "wrong_types"}},
        {{"kind", "no_event"}},
        {{"kind", "huge"}, {"size", 1 << 20}},
        {{"text", R"({"type":"file_changed","event":{"id":"x","action":"create"}})"}},
        {{"text", R"({"type":"file_changed","event":{"id":"x","action":"create",)"
                  R"("path":"/../../pushed.txt","hash":"00"}})"}},
    };
    int round = 0;
    for (const nlohmann::json& push : pushes) {
        SCOPED_TRACE(push.dump());
        server.injectFault(
            {{"path_prefix", "/api/sync/upload/init"}, {"method", "POST"}, {"push", push}});
        const std::string path = "/after-" + std::to_string(++round) + ".txt";
        other->upload(path, "after");
        EXPECT_TRUE(waitUntil([&] { return readFile(local(path)) == "after"; }));
    }
    EXPECT_TRUE(errorsSoFar().empty()) << testing::PrintToString(errorsSoFar());
    EXPECT_FALSE(fs::exists(syncDir.parent_path().parent_path() / "pushed.txt"));
}

// A bad answer to one file's request in live sync: the call's route, what the server answers,
// and whether the file is edited or deleted.
struct BadAnswer {
    const char* name;
    nlohmann::json fault;
    bool deletion = false;
};

void PrintTo(const BadAnswer& answer, std::ostream* out)
{
    *out << answer.name;
}

// A canned answer of status 200 (the route does not run) with this JSON text.
nlohmann::json cannedAnswer(const std::string& route, const std::string& body)
{
    return {{"path_prefix", route},
            {"status", 200},
            {"body", body},
            {"content_type", "application/json"},
            {"count", 5}};  // every attempt, retries and repeated events included
}

const BadAnswer kBadAnswers[] = {
    {"upload init, cut short",
     {{"path_prefix", "/api/sync/upload/init"}, {"malformed_json", true}, {"count", 5}}},
    {"upload init, mistyped",
     {{"path_prefix", "/api/sync/upload/init"},
      {"patch", {{{"op", "replace"}, {"path", "/status"}, {"value", 7}}}},
      {"count", 5}}},
    {"upload chunk, cut short", cannedAnswer("/api/sync/upload/chunk", R"({"file":{"id":)")},
    {"upload chunk, mistyped",
     cannedAnswer("/api/sync/upload/chunk", R"({"file":{"id":1,"path":["x"],"version":"2"}})")},
    {"delete, cut short", cannedAnswer("/api/sync/delete", R"({"dele)"), true},
    {"delete, mistyped", cannedAnswer("/api/sync/delete", R"({"deleted":"yes"})"), true},
};

// Deletions are tried three times, a second and two apart: a manual clock makes that quick.
class BadLiveAnswerTest : public testing::TestWithParam<BadAnswer>, public SyncEngineFixture {
protected:
    BadLiveAnswerTest() : SyncEngineFixture({}, quick(std::make_shared<ManualClock>()))
    {
        manualClock = std::static_pointer_cast<ManualClock>(options.clock);
    }

    static std::set<std::string> pathsIn(const std::map<std::string, std::string>& files)
    {
        std::set<std::string> paths;
        for (const auto& [path, content] : files) {
            paths.insert(path);
        }
        return paths;
    }
};

TEST_P(BadLiveAnswerTest, TheFileFailsTheEngineStaysUpAndTheNextEditSyncs)
{
    const BadAnswer& answer = GetParam();
    startLive();
    const std::string path = "/bad.txt";
    writeFile(local(path), "synced");
    ASSERT_TRUE(waitUntil([&] { return serverHas(path, "synced"); }));
    // The write's later events (the file closed after writing) are handled first.
    waitUntil([] { return false; }, 300ms);
    const FileState synced = storedState(path).value_or(FileState{});
    ASSERT_EQ(synced.hash, sha256("synced"));

    server.injectFault(answer.fault);
    if (answer.deletion) {
        fs::remove(local(path));
    } else {
        writeFile(local(path), "edited");
    }
    ASSERT_TRUE(waitUntil([&] { return !errorsSoFar().empty(); })) << "no error reported";
    for (const std::string& error : errorsSoFar()) {
        EXPECT_TRUE(error.starts_with("Sync failed: ")) << error;
    }
    // Nothing was taken as done: the file, its stored state and the server's copy are as they
    // were before the bad answer.
    EXPECT_EQ(storedState(path).value_or(FileState{}).hash, synced.hash);
    EXPECT_EQ(storedState(path).value_or(FileState{}).version, synced.version);
    EXPECT_TRUE(serverHas(path, "synced"));
    if (answer.deletion) {
        EXPECT_FALSE(fs::exists(local(path)));
    } else {
        EXPECT_EQ(readFile(local(path)), "edited");
        EXPECT_EQ(SyncStateProvider::shared().getBadge(local(path).string()), SyncBadge::error);
    }
    std::set<std::string> expected{kMarker};
    if (!answer.deletion) {
        expected.insert(path);
    }
    EXPECT_EQ(pathsIn(localContents()), expected) << "nothing else is written";

    // Once the server behaves, the next edit goes through.
    server.clearFaults();
    writeFile(local(path), "edited again");
    EXPECT_TRUE(waitUntil([&] { return serverHas(path, "edited again"); })) << serverPaths();
    EXPECT_TRUE(waitUntil([&] {
        return SyncStateProvider::shared().getBadge(local(path).string()) == SyncBadge::synced;
    }));
    EXPECT_TRUE(waitUntil([&] { return localContents() == other->contents(); }));
}

INSTANTIATE_TEST_SUITE_P(PerFileCalls, BadLiveAnswerTest, testing::ValuesIn(kBadAnswers));

}  // namespace
}  // namespace corvane::test
