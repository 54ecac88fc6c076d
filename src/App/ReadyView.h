#pragma once

#include <QWidget>

namespace corvane {

class AppState;
class FolderBox;

// The "setup" window's content in phase ready: "You're all set!", the sync folder (following
// AppState's syncDir), "Open Sync Folder", which hands the folder to the desktop's file
// manager, and "Close", which closes the window; the client runs on in the tray. Changes
// nothing in the state. Main thread only.
class ReadyView final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidth = 400;

    explicit ReadyView(AppState& state, QWidget* parent = nullptr);

private:
    void openSyncFolder();

    AppState& m_state;
    FolderBox* m_folder;
};

}  // namespace corvane
