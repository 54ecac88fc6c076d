#pragma once

#include <set>
#include <string>
#include <vector>

#include <QWidget>

#include "Models/Models.h"

class QScrollArea;
class QStackedWidget;
class QVBoxLayout;

namespace corvane {

class AppState;

// The settings window's second tab: one switch per server folder, which leaves the folder out
// of sync or takes it back in. Each time the tab is shown it asks the server for the folder list
// in the background; only the first load shows "Loading folders...", later ones keep the list
// on screen until their answer replaces it, and when loads overlap the last answer to arrive
// wins. A failed load is logged and changes nothing but the end of the first load. Only the
// user's click on a switch changes the exclusions, never the filling of the list.
//
// Main thread only.
class SyncTab final : public QWidget {
    Q_OBJECT

public:
    // One row of the list: a server folder and whether it is synced.
    struct SyncFolderItem {
        std::string id;
        std::string name;
        std::string path;  // as the server sends it; the key of the exclusion
        bool isEnabled = true;

        bool operator==(const SyncFolderItem&) const = default;
    };

    explicit SyncTab(AppState& appState, QWidget* parent = nullptr);

    // The rows for `folders` in the server's order: each on unless its exact path is in
    // `excluded` (a parent's exclusion does not turn a listed child off).
    static std::vector<SyncFolderItem> folderItems(const std::vector<Folder>& folders,
                                                   const std::set<std::string>& excluded);

    bool isLoading() const { return m_isLoading; }
    const std::vector<SyncFolderItem>& folders() const { return m_folders; }

signals:
    // A load has ended, whether it succeeded or not (for tests and the accessibility bus).
    void loadFinished();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeLoadingPage();
    QWidget* makeEmptyPage();
    QWidget* makeListPage();

    void loadFolders();
    void showFolders(const std::vector<Folder>& folders);
    void loadFailed(const QString& error);
    void rebuildRows();
    void showCurrentPage();
    void setFolderEnabled(std::size_t row, bool enabled);

    AppState& m_appState;
    std::vector<SyncFolderItem> m_folders;
    bool m_isLoading = true;

    QStackedWidget* m_pages = nullptr;
    QWidget* m_loadingPage = nullptr;
    QWidget* m_emptyPage = nullptr;
    QScrollArea* m_listPage = nullptr;
};

}  // namespace corvane
