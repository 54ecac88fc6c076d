#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QStackedWidget;

namespace corvane {

class AppState;
class AccountTabWalker;

// The settings window's fourth tab. Signed in: the e-mail address, the sync status, the sync
// folder, how many files the folder holds and how much its entries take, and "Log Out". Signed
// out: "Not logged in". The folder is measured in the background each time the tab is shown
// and after each change of AppState while it is shown, one walk at a time; the figures of the
// last walk stay until the next walk's arrive. Main thread only.
class AccountTab final : public QWidget {
    Q_OBJECT

public:
    explicit AccountTab(AppState& appState, QWidget* parent = nullptr);
    ~AccountTab() override;

    // The walks of the sync folder (for tests: whether one runs).
    const AccountTabWalker& walker() const { return *m_walker; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeSignedInPage();
    QWidget* makeSignedOutPage();
    void observeState();
    void stateChanged();
    void refresh();
    void showUsage();

    AppState& m_appState;
    AccountTabWalker* m_walker = nullptr;
    QStackedWidget* m_pages = nullptr;
    QWidget* m_signedInPage = nullptr;
    QWidget* m_signedOutPage = nullptr;
    QLabel* m_email = nullptr;
    QLabel* m_status = nullptr;
    QLabel* m_syncDir = nullptr;
    QLabel* m_fileCount = nullptr;
    QLabel* m_size = nullptr;
    QPushButton* m_logOut = nullptr;
};

}  // namespace corvane
