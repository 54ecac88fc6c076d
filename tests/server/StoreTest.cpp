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

}  // namespace
}  // namespace corvane::server
