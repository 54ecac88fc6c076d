#include "Sync/SyncDiff.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

const std::string kA(64, 'a');
const std::string kB(64, 'b');
const std::string kC(64, 'c');

FileInfo remote(const std::string& path, const std::string& hash, std::int64_t version = 4)
{
    return FileInfo{"id" + path, path.substr(path.rfind('/') + 1),
                    path,        hash,
                    10,          version,
                    "owner",     "folder",
                    "",          ""};
}

struct DiffCase {
    const char* name;
    std::optional<std::string> local;
    std::optional<std::string> server;
    std::optional<std::string> stored;
    std::optional<DiffAction> expected;
};

class DecisionTable : public testing::TestWithParam<DiffCase> {};

TEST_P(DecisionTable, GivesTheExpectedEntry)
{
    const DiffCase& c = GetParam();
    std::map<std::string, std::string> local;
    if (c.local) {
        local["/f.txt"] = *c.local;
    }
    std::vector<FileInfo> remotes;
    if (c.server) {
        remotes.push_back(remote("/f.txt", *c.server));
    }
    const auto state = [&](const std::string&) -> std::optional<FileState> {
        if (!c.stored) {
            return std::nullopt;
        }
        return FileState{*c.stored, 3, "t"};
    };
    const auto entries = computeDiff(local, remotes, state);
    if (!c.expected) {
        EXPECT_TRUE(entries.empty());
        return;
    }
    ASSERT_EQ(entries.size(), 1u);
    const DiffEntry& entry = entries.front();
    EXPECT_EQ(entry.action, *c.expected);
    EXPECT_EQ(entry.path, "/f.txt");
    // The fields each action carries.
    EXPECT_EQ(entry.localHash.has_value(), entry.action != DiffAction::download);
    const bool needsRemote = entry.action == DiffAction::download ||
                             entry.action == DiffAction::conflict ||
                             (entry.action == DiffAction::upload && c.server);
    EXPECT_EQ(entry.remoteFile.has_value(), needsRemote);
}

INSTANTIATE_TEST_SUITE_P(
    SyncDiffTest, DecisionTable,
    testing::Values(DiffCase{"SameContentNoState", kA, kA, std::nullopt, std::nullopt},
                    DiffCase{"SameContentWithState", kA, kA, kC, std::nullopt},
                    // No stored state and different contents: keep both sides.
                    DiffCase{"BothPresentNoState", kA, kB, std::nullopt, DiffAction::conflict},
                    DiffCase{"BothChanged", kA, kB, kC, DiffAction::conflict},
                    DiffCase{"OnlyServerChanged", kA, kB, kA, DiffAction::download},
                    DiffCase{"OnlyLocalChanged", kA, kB, kB, DiffAction::upload},
                    DiffCase{"ServerDeletedUnchangedFile", kA, std::nullopt, kA,
                             DiffAction::deleteLocal},
                    // An edit the server never saw wins over the remote deletion.
                    DiffCase{"ServerDeletedEditedFile", kA, std::nullopt, kB, DiffAction::upload},
                    DiffCase{"NewLocalFile", kA, std::nullopt, std::nullopt, DiffAction::upload},
                    DiffCase{"DeletedLocallyWhileAway", std::nullopt, kA, kA, DiffAction::download},
                    DiffCase{"NewServerFile", std::nullopt, kA, std::nullopt, DiffAction::download},
                    DiffCase{"GoneOnBothSides", std::nullopt, std::nullopt, kA, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SyncDiffTest, LaterRemoteRecordWithTheSamePathWins)
{
    const std::vector<FileInfo> remotes{remote("/x", kA, 1), remote("/x", kB, 2)};
    const auto entries = computeDiff({}, remotes, [](const std::string&) { return std::nullopt; });
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].remoteFile->hash, kB);
}

TEST(SyncDiffTest, LocalEntriesComeBeforeDownloads)
{
    const std::map<std::string, std::string> local{{"/b", kA}, {"/a", kA}};
    const std::vector<FileInfo> remotes{remote("/z", kB), remote("/a", kB)};
    const auto entries = computeDiff(local, remotes, [](const std::string&) {
        return std::optional<FileState>(FileState{kB, 1, "t"});
    });
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].path, "/a");
    EXPECT_EQ(entries[0].action, DiffAction::upload);
    EXPECT_EQ(entries[1].path, "/b");
    EXPECT_EQ(entries[1].action, DiffAction::upload);  // stored hash differs: an edit
    EXPECT_EQ(entries[2].path, "/z");
    EXPECT_EQ(entries[2].action, DiffAction::download);
}

}  // namespace
}  // namespace corvane
