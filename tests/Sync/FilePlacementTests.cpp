#include "Sync/FilePlacement.h"

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "Platform/Error.h"
#include "Platform/Sha256.h"
#include "Platform/Unicode.h"
#include "support/TempHome.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

std::string repeated(const std::string& piece, std::size_t times)
{
    std::string text;
    for (std::size_t i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

TEST(ConflictCopyNameTest, NamesAfterTheLastExtensionAndNumbersTakenNames)
{
    const auto none = [](const std::string&) { return false; };
    const std::string stamp = "2026-12-10 095327";
    EXPECT_EQ(conflictCopyName("report.pdf", stamp, none),
              "report (conflict - remote - 2026-12-10 095327).pdf");
    EXPECT_EQ(conflictCopyName("archive.tar.gz", stamp, none),
              "archive.tar (conflict - remote - 2026-12-10 095327).gz");
    EXPECT_EQ(conflictCopyName("Makefile", stamp, none),
              "Makefile (conflict - remote - 2026-12-10 095327).");

    std::set<std::string> used{"a (conflict - remote - 2026-12-10 095327).txt",
                               "a (conflict - remote - 2026-12-10 095327) 2.txt"};
    const auto taken = [&](const std::string& name) { return used.count(name) > 0; };
    EXPECT_EQ(conflictCopyName("a.txt", stamp, taken),
              "a (conflict - remote - 2026-12-10 095327) 3.txt");
    EXPECT_EQ(conflictTimestamp().size(), 17u);
}

// Names whose copy would pass 255 bytes: the stem gives way at a character boundary, the marker
// and the extension stay, and the numbering still finds a free name.
TEST(ConflictCopyNameTest, LongNamesFitInAFileName)
{
    const std::string stamp = "2026-12-10 095327";
    const std::string marker = std::string(" (conflict - remote - ") + stamp + ")";
    struct Case {
        std::string name;
        std::string extension;  // what the copy must end with after the marker
    };
    const Case cases[] = {
        {repeated("a", 250) + ".txt", ".txt"},
        {repeated("a", 255), "."},
        {repeated("\xC3\xA9", 125) + ".md", ".md"},             // two-byte characters
        {repeated("\xE2\x82\xAC", 80) + ".pdf", ".pdf"},        // three-byte characters
        {repeated("\xF0\x9F\x98\x80", 62) + ".jpeg", ".jpeg"},  // four-byte characters
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::set<std::string> used;
        const auto taken = [&](const std::string& name) { return used.count(name) > 0; };
        for (int copy = 1; copy <= 12; ++copy) {
            const std::string name = conflictCopyName(c.name, stamp, taken);
            EXPECT_LE(name.size(), 255u);
            EXPECT_TRUE(Unicode::isValidUTF8(name));
            const std::string ending =
                marker + (copy == 1 ? "" : " " + std::to_string(copy)) + c.extension;
            ASSERT_TRUE(name.ends_with(ending)) << name;
            const std::string stem = name.substr(0, name.size() - ending.size());
            EXPECT_TRUE(c.name.starts_with(stem)) << name;
            // As much of the stem as fits: one more character would not.
            EXPECT_GT(name.size() + 4, 255u) << name;
            EXPECT_TRUE(used.insert(name).second) << "a name came twice: " << name;
        }
    }
    // An extension that leaves no room for the marker gives way too, after the whole stem.
    const auto none = [](const std::string&) { return false; };
    EXPECT_EQ(conflictCopyName("x." + repeated("e", 240), stamp, none),
              marker + "." + repeated("e", 255 - marker.size() - 1));
}

std::string readFile(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void writeFile(const fs::path& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// A sync folder with a state store and the placement over both.
class FilePlacementTest : public testing::Test {
protected:
    FilePlacementTest()
        : syncDir(dir.path() / "Sync"), state(std::make_shared<LocalStateStore>(syncDir)),
          placement(SyncPaths(syncDir), state)
    {
        fs::create_directories(syncDir);
    }

    fs::path local(const std::string& path) const { return syncDir / path.substr(1); }

    // A synced file: on disk and in the state with the same content.
    void synced(const std::string& path, const std::string& content)
    {
        writeFile(local(path), content);
        state->set(path, FileState{Sha256::of(content), 1, "2026-12-10T09:53:27Z"});
    }

    // A downloaded temporary beside `path` holding `content`.
    std::unique_ptr<HiddenFile> download(const std::string& path, const std::string& content)
    {
        auto file = placement.createTemporary(path);
        writeFile(file->path(), content);
        return file;
    }

    // Every entry of the sync folder's top level with its content ("" for a folder).
    std::map<std::string, std::string> entries() const
    {
        std::map<std::string, std::string> found;
        for (const auto& entry : fs::directory_iterator(syncDir)) {
            found[entry.path().filename().string()] =
                entry.is_regular_file() ? readFile(entry.path()) : "";
        }
        return found;
    }

    // Entries of the top level whose names mark them as conflict copies.
    std::vector<std::string> conflictCopies() const
    {
        std::vector<std::string> copies;
        for (const auto& [name, content] : entries()) {
            if (name.find(" (conflict - remote - ") != std::string::npos) {
                copies.push_back(content);
            }
        }
        return copies;
    }

    test::TempDir dir;
    fs::path syncDir;
    std::shared_ptr<LocalStateStore> state;
    FilePlacement placement;
};

TEST_F(FilePlacementTest, ADownloadReplacesOnlyTheVersionItWasToldOf)
{
    // Nothing at the name: placed, whatever was expected.
    auto fresh = download("/new.txt", "fresh");
    EXPECT_TRUE(placement.replaceIfHolding(*fresh, "/new.txt", std::nullopt));
    EXPECT_FALSE(fresh->holdsFile());

    // The synced version: replaced, and it leaves nothing behind.
    synced("/a.txt", "old");
    auto update = download("/a.txt", "new");
    EXPECT_TRUE(placement.replaceIfHolding(*update, "/a.txt", Sha256::of("old")));
    update.reset();

    // An edit, or a file nobody was told of: it stays, and the download is still to be placed.
    synced("/b.txt", "old");
    writeFile(local("/b.txt"), "edit");
    auto blocked = download("/b.txt", "new");
    EXPECT_FALSE(placement.replaceIfHolding(*blocked, "/b.txt", Sha256::of("old")));
    ASSERT_TRUE(blocked->holdsFile());
    EXPECT_EQ(placement.placeConflictCopy(*blocked, "/b.txt").find("/b (conflict - remote - "), 0u);
    writeFile(local("/c.txt"), "unknown");
    auto unexpected = download("/c.txt", "new");
    EXPECT_FALSE(placement.replaceIfHolding(*unexpected, "/c.txt", std::nullopt));
    unexpected.reset();

    EXPECT_EQ(conflictCopies(), std::vector<std::string>{"new"});
    auto files = entries();
    std::erase_if(files, [](const auto& entry) {
        return entry.first.find(" (conflict") != std::string::npos;
    });
    EXPECT_EQ(
        files,
        (std::map<std::string, std::string>{
            {"new.txt", "fresh"}, {"a.txt", "new"}, {"b.txt", "edit"}, {"c.txt", "unknown"}}));
}

TEST_F(FilePlacementTest, ConflictCopiesTakeTheNextFreeName)
{
    const std::string stamp = conflictTimestamp();
    std::vector<std::string> placed;
    for (int i = 0; i < 3; ++i) {
        auto copy = download("/r.txt", "copy " + std::to_string(i));
        placed.push_back(placement.placeConflictCopy(*copy, "/r.txt", [](const std::string& path) {
            return path.ends_with(") 2.txt");  // a copy the server holds, not here yet
        }));
    }
    if (conflictTimestamp() != stamp) {
        GTEST_SKIP() << "the clock passed a second: the copies have different stamps";
    }
    const std::string stem = "/r (conflict - remote - " + stamp + ")";
    EXPECT_EQ(placed, (std::vector<std::string>{stem + ".txt", stem + " 3.txt", stem + " 4.txt"}));
}

TEST_F(FilePlacementTest, ARemovalTakesOnlyTheContentItChecked)
{
    synced("/same.txt", "old");
    EXPECT_TRUE(placement.removeIfHolding("/same.txt", Sha256::of("old")));
    synced("/edited.txt", "old");
    writeFile(local("/edited.txt"), "edit");
    EXPECT_FALSE(placement.removeIfHolding("/edited.txt", Sha256::of("old")));
    EXPECT_TRUE(placement.removeIfHolding("/missing.txt", Sha256::of("old")));
    fs::create_directory(local("/folder"));
    placement.removeFile("/folder");  // never a folder
    placement.removeFile("/missing.txt");
    EXPECT_EQ(entries(),
              (std::map<std::string, std::string>{{"edited.txt", "edit"}, {"folder", ""}}));
}

TEST_F(FilePlacementTest, RefusedPathsAndFoldersThatCannotBeMadeThrow)
{
    EXPECT_THROW(placement.checkedPath("/../outside.txt"), Error);
    EXPECT_THROW(placement.conflictCopyPlace("/a.txt", ".."), Error);
    EXPECT_EQ(placement.conflictCopyPlace("/Docs/a.txt", "a.txt"), "/Docs/a.txt");
    writeFile(local("/blocked"), "a file where the folder would be");
    EXPECT_THROW(placement.createTemporary("/blocked/a.txt"), FileError);
}

// A placement that a killed process left at one of its steps, and what the next start must make
// of it: the user's edits are never lost and no hidden file stays.
struct Interruption {
    const char* name;
    bool edited;           // the file at the name holds an edit the server has not seen
    bool removal;          // removing the file rather than downloading over it
    const char* step;      // where the process dies
    const char* expected;  // the file at the name afterwards ("" for none)
    const char* copy;      // the conflict copy afterwards ("" for none)
};

class InterruptedPlacementTest : public FilePlacementTest,
                                 public testing::WithParamInterface<Interruption> {};

const Interruption kInterruptions[] = {
    {"DownloadBeforePlacing", false, false, "received", "old", ""},
    {"DownloadNamedAside", false, false, "beforeSwap", "new", ""},
    {"DownloadBetweenSwaps", false, false, "betweenSwaps", "new", ""},
    {"DownloadOverAnEditBetweenSwaps", true, false, "betweenSwaps", "new", "edit"},
    {"RemovalMovedAside", false, true, "afterMoveAside", "", ""},
    {"RemovalOfAnEditMovedAside", true, true, "afterMoveAside", "edit", ""},
};

INSTANTIATE_TEST_SUITE_P(Steps, InterruptedPlacementTest, testing::ValuesIn(kInterruptions),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(InterruptedPlacementTest, IsPutRightAtTheNextStart)
{
    const Interruption& c = GetParam();
    synced("/a.txt", "old");
    if (c.edited) {
        writeFile(local("/a.txt"), "edit");
    }
    const std::string step = c.step;
    const auto dieAt = [step](const char* at) {
        return [step, at](const std::string&) {
            if (step == at) {
                ::_exit(0);
            }
        };
    };
    FilePlacement::TestHooks hooks;
    hooks.beforeSwap = dieAt("beforeSwap");
    hooks.betweenSwaps = dieAt("betweenSwaps");
    hooks.afterMoveAside = dieAt("afterMoveAside");
    placement.setTestHooks(hooks);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (c.removal) {
            placement.removeIfHolding("/a.txt", Sha256::of("old"));
        } else {
            auto file = download("/a.txt", "new");
            if (step == "received") {
                ::_exit(0);
            }
            placement.replaceIfHolding(*file, "/a.txt", Sha256::of("old"));
        }
        ::_exit(1);  // the step was never reached
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "not killed at " << step;

    placement.setTestHooks({});
    placement.removeStaleDownloads();
    placement.restoreMovedAside();

    for (const auto& [name, content] : entries()) {
        EXPECT_FALSE(name.starts_with(".")) << name;
    }
    EXPECT_EQ(fs::exists(local("/a.txt")) ? readFile(local("/a.txt")) : "", c.expected);
    const std::vector<std::string> copies = conflictCopies();
    EXPECT_EQ(copies, *c.copy ? std::vector<std::string>{c.copy} : std::vector<std::string>{});
}

}  // namespace
}  // namespace corvane
