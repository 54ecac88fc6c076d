#include "Platform/UserDefaults.h"

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "Platform/Paths.h"
#include "Platform/UserDefaultsFixture.h"
#include "support/FileContents.h"
#include "support/PollUntil.h"

namespace corvane {
namespace {

using nlohmann::json;
using StringDictionary = UserDefaults::StringDictionary;

class UserDefaultsTest : public test::UserDefaultsFixture {};

// Looks at the file until another writer's change is read: a read that took long (a loaded
// machine) holds the next one back for a pause.
void synchronizeFully(UserDefaults& defaults)
{
    test::pollUntil([&] { return defaults.synchronize(); });
}

TEST_F(UserDefaultsTest, TypedReadsRefuseOtherTypes)
{
    struct Case {
        json stored;
        std::optional<std::string> string;
        std::optional<std::int64_t> integer;
        std::optional<bool> boolean;
        std::optional<std::vector<std::string>> array;
        std::optional<StringDictionary> dictionary;
    };
    const Case cases[] = {
        {"text", "text", {}, {}, {}, {}},
        {"123", "123", {}, {}, {}, {}},
        {42, {}, 42, {}, {}, {}},
        {-7, {}, -7, {}, {}, {}},
        {102400.9, {}, 102400, {}, {}, {}},
        {-2.5, {}, -2, {}, {}, {}},
        {1e300, {}, {}, {}, {}, {}},
        {18446744073709551615ULL, {}, {}, {}, {}, {}},
        {true, {}, {}, true, {}, {}},
        {false, {}, {}, false, {}, {}},
        {nullptr, {}, {}, {}, {}, {}},
        {json::array(), {}, {}, {}, std::vector<std::string>{}, {}},
        {json::array({"a", "b"}), {}, {}, {}, std::vector<std::string>{"a", "b"}, {}},
        {json::array({"a", 1}), {}, {}, {}, {}, {}},
        {json::object(), {}, {}, {}, {}, StringDictionary{}},
        {json{{"a", "1"}, {"b", "2"}}, {}, {}, {}, {}, StringDictionary{{"a", "1"}, {"b", "2"}}},
        {json{{"a", "1"}, {"b", 2}}, {}, {}, {}, {}, {}},
    };
    UserDefaults defaults(suiteFile());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored.dump());
        defaults.setJSON("key", c.stored);
        EXPECT_TRUE(defaults.contains("key"));
        EXPECT_EQ(defaults.string("key"), c.string);
        EXPECT_EQ(defaults.integer("key"), c.integer);
        EXPECT_EQ(defaults.boolean("key"), c.boolean);
        EXPECT_EQ(defaults.stringArray("key"), c.array);
        EXPECT_EQ(defaults.stringDictionary("key"), c.dictionary);
    }
    EXPECT_FALSE(defaults.contains("missing"));
    EXPECT_EQ(defaults.string("missing"), std::nullopt);
    EXPECT_EQ(defaults.integer("missing"), std::nullopt);
}

TEST_F(UserDefaultsTest, ValuesSurviveANewInstanceAndRemoveDeletesTheKey)
{
    {
        UserDefaults defaults(suiteFile());
        defaults.setString("serverURL", "http://localhost:8080");
        defaults.setInteger("uploadBandwidthLimit", 512000);
        defaults.setBool("setupDone", true);
        defaults.setStringArray("selectiveSyncExcluded", {"/Photos", "/Work/Old"});
        defaults.setStringDictionary("map", {{"/a", "synced"}});
        defaults.setString("gone", "soon");
        defaults.remove("gone");
    }  // destruction writes
    UserDefaults reopened(suiteFile());
    EXPECT_EQ(reopened.string("serverURL"), "http://localhost:8080");
    EXPECT_EQ(reopened.integer("uploadBandwidthLimit"), 512000);
    EXPECT_EQ(reopened.boolean("setupDone"), true);
    EXPECT_EQ(reopened.stringArray("selectiveSyncExcluded"),
              (std::vector<std::string>{"/Photos", "/Work/Old"}));
    EXPECT_EQ(reopened.stringDictionary("map"), (StringDictionary{{"/a", "synced"}}));
    EXPECT_FALSE(reopened.contains("gone"));
    // The file is plain JSON and nothing temporary is left beside it.
    EXPECT_TRUE(json::parse(test::fileContents(suiteFile())).is_object());
    int files = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator(suiteFile().parent_path())) {
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST_F(UserDefaultsTest, SharedInstancesLiveUnderTheConfigFolder)
{
    EXPECT_EQ(UserDefaults::standard()->file(), Paths::config() / "com.corvane.app.json");
    const auto group = UserDefaults::suite("group.com.corvane.app");
    ASSERT_TRUE(group);
    EXPECT_EQ(group->file(), Paths::config() / "group.com.corvane.app.json");
    EXPECT_EQ(UserDefaults::suite("group.com.corvane.app"), group);
    for (const char* refused : {"", ".hidden", "../escape", "a/b"}) {
        EXPECT_EQ(UserDefaults::suite(refused), nullptr) << refused;
    }
}

TEST_F(UserDefaultsTest, WritesReachTheFileWithoutAnExplicitFlush)
{
    UserDefaults writer(suiteFile());
    writer.setString("syncDir", "/home/u/Corvane");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::optional<std::string> seen;
    while (std::chrono::steady_clock::now() < deadline) {
        if (std::filesystem::exists(suiteFile())) {
            seen = UserDefaults(suiteFile()).string("syncDir");
            if (seen) {
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(seen, "/home/u/Corvane");
}

TEST_F(UserDefaultsTest, CorruptFileReadsAsEmptyAndIsKeptAsideBeforeItIsReplaced)
{
    const struct {
        const char* name;
        const char* text;
    } cases[] = {{"garbage", "{\"serverURL\": \"http://x"}, {"not an object", "[1, 2, 3]"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(suiteFile().parent_path());
        test::writeFileContents(suiteFile(), c.text);
        {
            UserDefaults defaults(suiteFile());
            EXPECT_FALSE(defaults.contains("serverURL"));
            defaults.flush();
            EXPECT_EQ(test::fileContents(suiteFile()), c.text)
                << "a read alone must not replace it";
            defaults.setString("serverURL", "http://new");
        }
        const std::filesystem::path aside = suiteFile().string() + ".corrupt";
        EXPECT_EQ(test::fileContents(aside), c.text);
        EXPECT_EQ(UserDefaults(suiteFile()).string("serverURL"), "http://new");
    }
}

TEST_F(UserDefaultsTest, SecondCorruptFileDoesNotReplaceTheFirstCopy)
{
    const std::filesystem::path aside = suiteFile().string() + ".corrupt";
    for (const char* text : {"first {", "second {"}) {
        test::writeFileContents(suiteFile(), text);
        UserDefaults defaults(suiteFile());
        defaults.setBool("setupDone", false);
    }
    EXPECT_EQ(test::fileContents(aside), "first {");
    EXPECT_EQ(test::fileContents(aside.string() + ".1"), "second {");
}

TEST_F(UserDefaultsTest, CorruptFileThatCannotBeKeptAsideIsNotReplaced)
{
    // Every name it could be kept under is taken.
    const std::string aside = suiteFile().string() + ".corrupt";
    test::writeFileContents(aside, "taken");
    for (int i = 1; i < 100; ++i) {
        test::writeFileContents(aside + "." + std::to_string(i), "taken");
    }
    test::writeFileContents(suiteFile(), "precious {");
    UserDefaults defaults(suiteFile());
    defaults.setString("serverURL", "http://new");
    defaults.flush();
    EXPECT_EQ(test::fileContents(suiteFile()), "precious {");
    EXPECT_EQ(defaults.string("serverURL"), "http://new");  // kept in memory

    // Once a name is free again, the next write keeps the file there and replaces it.
    std::filesystem::remove(aside + ".42");
    defaults.setBool("setupDone", true);
    defaults.flush();
    EXPECT_EQ(test::fileContents(aside + ".42"), "precious {");
    UserDefaults reader(suiteFile());
    EXPECT_EQ(reader.string("serverURL"), "http://new");
    EXPECT_EQ(reader.boolean("setupDone"), true);
}

TEST_F(UserDefaultsTest, TwoWritersOfOneFileKeepEachOthersKeys)
{
    UserDefaults first(suiteFile());
    UserDefaults second(suiteFile());
    first.setString("serverURL", "http://a");
    first.flush();
    second.setString("syncDir", "/b");
    second.flush();
    first.setBool("setupDone", true);
    first.flush();

    UserDefaults reader(suiteFile());
    EXPECT_EQ(reader.string("serverURL"), "http://a");
    EXPECT_EQ(reader.string("syncDir"), "/b");
    EXPECT_EQ(reader.boolean("setupDone"), true);

    // A reader picks up another writer's change and removal.
    synchronizeFully(second);
    EXPECT_EQ(second.boolean("setupDone"), true);
    first.remove("serverURL");
    first.flush();
    synchronizeFully(second);
    EXPECT_FALSE(second.contains("serverURL"));
}

TEST_F(UserDefaultsTest, UnsavedLocalChangeWinsOverAnotherWritersValue)
{
    UserDefaults first(suiteFile());
    UserDefaults second(suiteFile());
    first.setString("userEmail", "old@example.com");
    first.flush();
    second.setString("userEmail", "new@example.com");  // not yet written
    synchronizeFully(second);
    EXPECT_EQ(second.string("userEmail"), "new@example.com");
    second.flush();
    synchronizeFully(first);
    EXPECT_EQ(first.string("userEmail"), "new@example.com");
}

}  // namespace
}  // namespace corvane
