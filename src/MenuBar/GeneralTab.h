#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace corvane {

class AppState;

// The settings window's first tab: the server address and the sync folder, edited as copies that
// take effect only on "Save" (a changed address signs the user out), and the launch-at-login
// switch, which takes effect at once. Each time the tab is shown the copies are filled afresh
// from AppState, so an edit that was not saved is gone. Main thread only.
class GeneralTab final : public QWidget {
    Q_OBJECT

public:
    explicit GeneralTab(AppState& appState, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeServerSection();
    QWidget* makeSyncFolderSection();
    QWidget* makeStartupSection();
    QWidget* makeSaveRow();

    void fillFromState();
    void showLaunchAtLogin();
    void browse();
    void save();

    AppState& m_appState;
    QLineEdit* m_serverURL = nullptr;
    QLineEdit* m_syncDir = nullptr;
    QPushButton* m_browse = nullptr;
    QLabel* m_syncDirError = nullptr;
    QCheckBox* m_launchAtLogin = nullptr;
    QPushButton* m_save = nullptr;
};

}  // namespace corvane
