// The Bandwidth tab: the pickers show the stored limits, and each choice of the user is stored.
#include "MenuBar/BandwidthTab.h"

#include "MenuBar/SettingsTestSupport.h"
#include "Sync/BandwidthThrottler.h"

namespace corvane::test {
namespace {

constexpr int kBandwidthTab = 2;
constexpr const char* kUploadKey = BandwidthThrottler::kUploadLimitKey;
constexpr const char* kDownloadKey = BandwidthThrottler::kDownloadLimitKey;
const QStringList kLabels{"Unlimited", "100 KB/s", "500 KB/s", "1 MB/s", "5 MB/s", "10 MB/s"};

TEST(BandwidthTabPresetTest, AStoredLimitShowsAsItsPresetOrElseUnlimited)
{
    const struct {
        std::int64_t limit;
        int index;
    } cases[] = {{0, 0},        {102400, 1}, {512000, 2}, {1048576, 3}, {5242880, 4},
                 {10485760, 5}, {2048, 0},   {-1, 0},     {102401, 0},  {1000000, 0}};
    for (const auto& entry : cases) {
        EXPECT_EQ(BandwidthTab::presetIndex(entry.limit), entry.index) << entry.limit;
    }
}

enum class Picker { upload, download };

struct BandwidthCase {
    const char* name;
    std::optional<std::int64_t> storedUpload;
    std::optional<std::int64_t> storedDownload;
    const char* shownUpload;
    const char* shownDownload;
    // The user's choice after the tab came into view, if any.
    std::optional<Picker> picker;
    int choice;
    std::optional<std::int64_t> upload;
    std::optional<std::int64_t> download;
};

const BandwidthCase kCases[] = {
    {"NothingStored", {}, {}, "Unlimited", "Unlimited", {}, 0, {}, {}},
    {"AStoredPresetIsShown", 512000, {}, "500 KB/s", "Unlimited", {}, 0, 512000, {}},
    {"AnUnmatchedLimitShowsUnlimitedAndStays", {}, 2048, "Unlimited", "Unlimited", {}, 0, {}, 2048},
    // Choosing the "Unlimited" shown over an unmatched limit lifts it.
    {"ChoosingTheShownUnlimitedStoresZero",
     {},
     2048,
     "Unlimited",
     "Unlimited",
     Picker::download,
     0,
     {},
     0},
    {"ChoosingAPresetOverAnUnmatchedLimit",
     {},
     2048,
     "Unlimited",
     "1 MB/s",
     Picker::download,
     3,
     {},
     1048576},
    {"UploadChoiceLeavesTheDownloadLimit",
     {},
     102400,
     "10 MB/s",
     "100 KB/s",
     Picker::upload,
     5,
     10485760,
     102400},
    {"UnlimitedAfterAnotherPreset",
     5242880,
     {},
     "Unlimited",
     "Unlimited",
     Picker::upload,
     0,
     0,
     {}},
    {"ChoosingTheShownPresetStoresItAgain",
     1048576,
     {},
     "1 MB/s",
     "Unlimited",
     Picker::upload,
     3,
     1048576,
     {}},
};

void PrintTo(const BandwidthCase& entry, std::ostream* out)
{
    *out << entry.name;
}

class BandwidthTabTest : public testing::TestWithParam<BandwidthCase>, public SettingsFixture {};

std::optional<std::int64_t> stored(const char* key)
{
    return UserDefaults::standard()->integer(key);
}

TEST_P(BandwidthTabTest, ShowsTheStoredLimitsAndStoresTheUsersChoice)
{
    const BandwidthCase& entry = GetParam();
    if (entry.storedUpload) {
        UserDefaults::standard()->setInteger(kUploadKey, *entry.storedUpload);
    }
    if (entry.storedDownload) {
        UserDefaults::standard()->setInteger(kDownloadKey, *entry.storedDownload);
    }
    makeState();
    showView();
    showTab(kBandwidthTab);
    auto* upload = find<QComboBox>("uploadLimitPicker");
    auto* download = find<QComboBox>("downloadLimitPicker");
    // Coming into view stores nothing.
    EXPECT_EQ(stored(kUploadKey), entry.storedUpload);
    EXPECT_EQ(stored(kDownloadKey), entry.storedDownload);

    if (entry.picker) {
        choose(*entry.picker == Picker::upload ? upload : download, entry.choice);
    }
    EXPECT_EQ(upload->currentText().toStdString(), entry.shownUpload);
    EXPECT_EQ(download->currentText().toStdString(), entry.shownDownload);
    EXPECT_EQ(stored(kUploadKey), entry.upload);
    EXPECT_EQ(stored(kDownloadKey), entry.download);
    // What is stored is what the throttler limits to.
    EXPECT_EQ(state->bandwidthThrottler()->uploadLimit(), entry.upload.value_or(0));
    EXPECT_EQ(state->bandwidthThrottler()->downloadLimit(), entry.download.value_or(0));
}

INSTANTIATE_TEST_SUITE_P(Cases, BandwidthTabTest, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

class BandwidthTabViewTest : public testing::Test, public SettingsFixture {};

TEST_F(BandwidthTabViewTest, OffersThePresetsVerbatimUnderTheirLabels)
{
    makeState();
    showView();
    showTab(kBandwidthTab);
    for (const char* name : {"uploadLimitPicker", "downloadLimitPicker"}) {
        auto* picker = find<QComboBox>(name);
        QStringList items;
        for (int index = 0; index < picker->count(); ++index) {
            items << picker->itemText(index);
        }
        EXPECT_EQ(items, kLabels) << name;
    }
    EXPECT_EQ(find<QComboBox>("uploadLimitPicker")->accessibleName().toStdString(),
              "Maximum upload rate");
    EXPECT_EQ(text("uploadLimitLabel"), "Maximum upload rate");
    EXPECT_EQ(text("downloadLimitLabel"), "Maximum download rate");
    EXPECT_EQ(text("bandwidthHint"),
              "Bandwidth limits control how much network capacity Corvane uses. Set to "
              "\"Unlimited\" for fastest sync.");
}

TEST_F(BandwidthTabViewTest, EachShowPicksTheLimitsStoredMeanwhile)
{
    makeState();
    showView();
    showTab(kBandwidthTab);
    state->bandwidthThrottler()->setUploadLimit(5242880);
    state->bandwidthThrottler()->setDownloadLimit(777);
    showTab(0);
    showTab(kBandwidthTab);
    EXPECT_EQ(find<QComboBox>("uploadLimitPicker")->currentText().toStdString(), "5 MB/s");
    EXPECT_EQ(find<QComboBox>("downloadLimitPicker")->currentText().toStdString(), "Unlimited");
    EXPECT_EQ(stored(kDownloadKey), 777);
}

}  // namespace
}  // namespace corvane::test
