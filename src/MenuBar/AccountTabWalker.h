#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>

#include <QObject>

#include "MenuBar/AccountTabUsage.h"

namespace corvane {

// Measures the sync folder for the Account tab off the main thread: one walk at a time in a
// background task. A request while a walk runs is remembered, the latest folder winning, and
// starts exactly one more walk when the running one ends, so a change during a walk is never
// missed and walks never pile up. The last result stays readable until the next one arrives.
// Destruction asks a running walk to stop; its result goes nowhere.
//
// Main thread only.
class AccountTabWalker final : public QObject {
    Q_OBJECT

public:
    using Walk = std::function<std::optional<LocalFolderUsage>(const std::filesystem::path&,
                                                               std::stop_token)>;

    explicit AccountTabWalker(Walk walk = measureLocalFolder, QObject* parent = nullptr);
    ~AccountTabWalker() override;

    void request(const std::filesystem::path& folder);

    bool isWalking() const { return m_walking; }
    // Whether a walk has ended yet; result() means nothing before.
    bool hasResult() const { return m_hasResult; }
    // The last walk's result: nothing when it could not read the folder.
    const std::optional<LocalFolderUsage>& result() const { return m_result; }

signals:
    // A walk has ended and result() holds what it found.
    void resultChanged();

private:
    void start(const std::filesystem::path& folder);
    void finish();

    const Walk m_walk;
    bool m_walking = false;
    std::optional<std::filesystem::path> m_next;
    std::stop_source m_stop;
    bool m_hasResult = false;
    std::optional<LocalFolderUsage> m_result;
};

}  // namespace corvane
