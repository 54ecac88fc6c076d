#include <gtest/gtest.h>

#include "Store.h"
#include "support/TempHome.h"

namespace corvane::server {
namespace {

constexpr const char* kNow = "2024-05-01T12:00:00Z";

// A store in a temporary folder with one account and one folder.
class StoreTest : public ::testing::Test {
protected:
    StoreTest()
        : m_store(m_dir.path()),
          m_user(m_store.signInUser("ada@example.com", "ada@example.com", kNow)),
          m_folder(*m_store.createFolder(m_user.id, std::nullopt, "Docs", kNow).second)
    {
    }

    PendingUpload pending(const std::string& id, const std::string& userId) const
    {
        return PendingUpload{id, userId, m_folder.id, id + ".txt", std::string(64, 'a'), 3, 0};
    }

    bool isPending(const std::string& id, const std::string& userId,
                   const std::string& createdSince = "")
    {
        return m_store.pendingUpload(userId, id, createdSince).has_value();
    }

    test::TempDir m_dir;
    Store m_store;
    User m_user;
    FolderRecord m_folder;
};

TEST_F(StoreTest, AnAccountKeepsOnlyItsNewestPendingUploads)
{
    const User other = m_store.signInUser("bob@example.com", "bob@example.com", kNow);
    m_store.addPendingUpload(pending("bob", other.id), kNow, 2);
    for (int i = 0; i < 5; ++i) {
        m_store.addPendingUpload(pending("up" + std::to_string(i), m_user.id), kNow, 3);
    }
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(isPending("up" + std::to_string(i), m_user.id), i >= 2) << i;
    }
    EXPECT_TRUE(isPending("bob", other.id));
}

TEST_F(StoreTest, PendingUploadsExpire)
{
    m_store.addPendingUpload(pending("old", m_user.id), "2024-05-01T11:59:59Z", 10);
    m_store.addPendingUpload(pending("new", m_user.id), kNow, 10);
    // Past its time a pending upload is no more, even before it is swept away.
    EXPECT_FALSE(isPending("old", m_user.id, kNow));
    EXPECT_TRUE(isPending("old", m_user.id, "2024-05-01T11:59:59Z"));
    EXPECT_TRUE(isPending("new", m_user.id, kNow));

    EXPECT_EQ(m_store.expirePendingUploads(kNow), 1);
    EXPECT_FALSE(isPending("old", m_user.id));
    EXPECT_TRUE(isPending("new", m_user.id));
    EXPECT_EQ(m_store.expirePendingUploads(kNow), 0);
}

TEST_F(StoreTest, ABlobIsCollectedOnlyWhenNoFileOrPendingUploadRefersToIt)
{
    std::vector<std::string> removed;
    const auto collect = [&] {
        removed.clear();
        m_store.collectUnreferencedBlobs(10,
                                         [&](const std::string& hash) { removed.push_back(hash); });
        return removed;
    };
    const PendingUpload first = pending("first", m_user.id);
    m_store.addPendingUpload(first, kNow, 10);
    EXPECT_EQ(collect(), std::vector<std::string>{});
    ASSERT_TRUE(m_store.completeUpload(first, kNow));
    ASSERT_TRUE(m_store.deleteFile(m_user.id, m_folder.id, first.relativePath, kNow));

    // An upload of the same content that has begun (the server told it to send the bytes, and
    // will find the blob there when they come) keeps the blob.
    const PendingUpload second = pending("second", m_user.id);
    m_store.addPendingUpload(second, kNow, 10);
    EXPECT_EQ(collect(), std::vector<std::string>{});
    ASSERT_TRUE(m_store.completeUpload(second, kNow));
    EXPECT_EQ(collect(), std::vector<std::string>{});

    ASSERT_TRUE(m_store.deleteFile(m_user.id, m_folder.id, second.relativePath, kNow));
    EXPECT_EQ(collect(), std::vector<std::string>{second.hash});
    // Once forgotten, the content is no longer known: a new upload must send it again.
    EXPECT_FALSE(m_store.recordKnownContent(pending("third", m_user.id), kNow));
    EXPECT_TRUE(m_store.removeIfUnrecorded(second.hash, [](const std::string&) {}));
}

}  // namespace
}  // namespace corvane::server
