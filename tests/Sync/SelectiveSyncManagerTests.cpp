#include "Sync/SelectiveSyncManager.h"

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "Platform/UserDefaults.h"
#include "support/TempHome.h"

namespace corvane {
namespace {

// "Café" spelt precomposed (NFC) and decomposed (NFD).
const std::string kCafeNFC = "/Caf\xC3\xA9";
const std::string kCafeNFD = "/Cafe\xCC\x81";

class SelectiveSyncManagerTest : public testing::Test {
protected:
    SelectiveSyncManagerTest() { UserDefaults::resetShared(); }
    ~SelectiveSyncManagerTest() override { UserDefaults::resetShared(); }

    std::optional<std::vector<std::string>> stored() const
    {
        return UserDefaults::standard()->stringArray(SelectiveSyncManager::kStorageKey);
    }

    test::TempHome m_home;
    SelectiveSyncManager m_manager;
};

struct ExclusionCase {
    std::set<std::string> stored;
    std::string path;
    bool excluded;
};

std::ostream& operator<<(std::ostream& out, const ExclusionCase& c)
{
    out << "path \"" << c.path << "\" with";
    for (const std::string& path : c.stored) {
        out << " \"" << path << "\"";
    }
    return out;
}

class ExclusionTest : public SelectiveSyncManagerTest,
                      public testing::WithParamInterface<ExclusionCase> {};

TEST_P(ExclusionTest, AFolderExcludesItselfAndEverythingBeneathIt)
{
    m_manager.setExcludedPaths(GetParam().stored);
    EXPECT_EQ(m_manager.isExcluded(GetParam().path), GetParam().excluded);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ExclusionTest,
    testing::Values(
        ExclusionCase{{"/Docs"}, "/Docs", true}, ExclusionCase{{"/Docs"}, "/Docs/a.txt", true},
        ExclusionCase{{"/Docs"}, "/Docs/x/y/z.txt", true},
        ExclusionCase{{"/Docs"}, "/Docs2", false}, ExclusionCase{{"/Docs"}, "/Docs2/a.txt", false},
        ExclusionCase{{"/Docs"}, "/Docs.txt", false}, ExclusionCase{{"/Docs"}, "/Doc", false},
        ExclusionCase{{"/Docs"}, "/", false}, ExclusionCase{{"/Docs"}, "", false},
        // Case-sensitive.
        ExclusionCase{{"/Docs"}, "/docs", false}, ExclusionCase{{"/Docs"}, "/DOCS/a.txt", false},
        // No clean-up of the text: a stored trailing "/" matches only itself and what follows
        // it after one more "/"; dot components are not resolved.
        ExclusionCase{{"/Docs/"}, "/Docs/", true}, ExclusionCase{{"/Docs/"}, "/Docs", false},
        ExclusionCase{{"/Docs/"}, "/Docs/a.txt", false},
        ExclusionCase{{"/Docs/"}, "/Docs//a.txt", true},
        ExclusionCase{{"/Docs"}, "/Docs/../Other", true},
        ExclusionCase{{"/Docs"}, "/Other/../Docs", false},
        // Canonically equivalent spellings are the same path, in the prefix test too.
        ExclusionCase{{kCafeNFC}, kCafeNFD, true}, ExclusionCase{{kCafeNFD}, kCafeNFC, true},
        ExclusionCase{{kCafeNFC}, kCafeNFD + "/menu.txt", true},
        ExclusionCase{{kCafeNFD}, kCafeNFC + "/a/b", true},
        ExclusionCase{{kCafeNFC}, "/Cafe", false},
        // Several folders: any one of them decides.
        ExclusionCase{{"/A", "/B/C"}, "/B", false}, ExclusionCase{{"/A", "/B/C"}, "/B/C/d", true},
        ExclusionCase{{"/A", "/B/C"}, "/A/x", true}, ExclusionCase{{}, "/A", false}));

TEST_F(SelectiveSyncManagerTest, AMissingOrMalformedValueExcludesNothing)
{
    EXPECT_TRUE(m_manager.excludedPaths().empty());
    EXPECT_FALSE(m_manager.isExcluded("/Docs"));
    for (const nlohmann::json& value :
         {nlohmann::json("/Docs"), nlohmann::json::parse(R"(["/Docs", 3])"),
          nlohmann::json::parse(R"({"/Docs": "/Docs"})"), nlohmann::json(5)}) {
        UserDefaults::standard()->setJSON(SelectiveSyncManager::kStorageKey, value);
        EXPECT_TRUE(m_manager.excludedPaths().empty()) << value;
        EXPECT_FALSE(m_manager.isExcluded("/Docs")) << value;
    }
    // The next change starts over from the empty set.
    m_manager.exclude("/X");
    EXPECT_EQ(stored(), (std::vector<std::string>{"/X"}));
}

TEST_F(SelectiveSyncManagerTest, EveryQuestionReadsTheSettingsAfresh)
{
    EXPECT_FALSE(m_manager.isExcluded("/Docs/a.txt"));
    UserDefaults::standard()->setStringArray(SelectiveSyncManager::kStorageKey, {"/Docs"});
    EXPECT_TRUE(m_manager.isExcluded("/Docs/a.txt"));
    EXPECT_EQ(m_manager.excludedPaths(), (std::set<std::string>{"/Docs"}));
}

TEST_F(SelectiveSyncManagerTest, ExcludeStoresAPathOnceInWhicheverSpellingCameFirst)
{
    m_manager.exclude("/Docs");
    m_manager.exclude("/Docs");
    m_manager.exclude(kCafeNFC);
    m_manager.exclude(kCafeNFD);
    m_manager.exclude("/Docs/Sub");  // a folder beneath an excluded one is stored as well
    EXPECT_EQ(m_manager.excludedPaths(), (std::set<std::string>{"/Docs", "/Docs/Sub", kCafeNFC}));
    EXPECT_EQ(stored()->size(), 3u);

    // Both spellings written by somebody else still count once.
    UserDefaults::standard()->setStringArray(SelectiveSyncManager::kStorageKey,
                                             {kCafeNFD, kCafeNFC});
    EXPECT_EQ(m_manager.excludedPaths().size(), 1u);
}

TEST_F(SelectiveSyncManagerTest, IncludeRemovesAFolderAndWhatIsBeneathIt)
{
    m_manager.setExcludedPaths({"/E", "/E/x", "/E/x/y", "/Ex", "/F", kCafeNFC, kCafeNFC + "/a"});
    m_manager.include("/E");
    EXPECT_EQ(m_manager.excludedPaths(),
              (std::set<std::string>{"/Ex", "/F", kCafeNFC, kCafeNFC + "/a"}));
    m_manager.include(kCafeNFD);
    EXPECT_EQ(m_manager.excludedPaths(), (std::set<std::string>{"/Ex", "/F"}));
}

TEST_F(SelectiveSyncManagerTest, IncludingAChildOfAnExcludedFolderKeepsItExcluded)
{
    m_manager.exclude("/E");
    m_manager.include("/E/x");
    EXPECT_EQ(m_manager.excludedPaths(), (std::set<std::string>{"/E"}));
    EXPECT_TRUE(m_manager.isExcluded("/E/x"));
    EXPECT_TRUE(m_manager.isExcluded("/E/x/file.txt"));
}

TEST_F(SelectiveSyncManagerTest, AnEmptySetIsStoredAsAnEmptyArray)
{
    m_manager.exclude("/E");
    m_manager.include("/E");
    EXPECT_EQ(stored(), std::vector<std::string>{});
    m_manager.setExcludedPaths({});
    EXPECT_EQ(stored(), std::vector<std::string>{});
    EXPECT_FALSE(m_manager.isExcluded("/E"));
}

}  // namespace
}  // namespace corvane
