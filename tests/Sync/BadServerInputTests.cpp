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
    const std::string docs = folderId("/Docs");
    const std::string escaping[] = {"../../escaped.txt",         "/../escaped.txt",
                                    "a/../../escaped.txt",       "/tmp/../../escaped.txt",
                                    "/.corvane/sync_state.json", "/Docs/.hidden/x.txt"};
    for (const std::string& path : escaping) {
        SCOPED_TRACE(path);
        other->upload("/late-" + std::to_string(path.size()) + ".txt", "late");
        server.injectFault(
            {{"path_prefix", "/api/folders/" + docs + "/tree"},
             {"count", 2},  // the start-up reads the tree twice
             {"patch", {{{"op", "replace"}, {"path", "/files/0/path"}, {"value", path}}}}});
        testing::internal::CaptureStdout();
        EXPECT_TRUE(cycleErrors().empty());
        const std::string log = testing::internal::GetCapturedStdout();
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
