#pragma once

#include <optional>

#include <QString>
#include <QWidget>

#include "App/RequestState.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace corvane {

class AppState;
class FolderBox;
class SpinnerButton;

// The setup and sign-in form of the "setup" window in the phases setup and login: the server
// address, the sync folder, the e-mail address and, once a code was sent, the code, with one
// main button ("Continue", then "Log In"). "Continue" checks the server (GET /health), stores
// the setup and asks for a code; "Log In" verifies the code and signs in, after which the
// window shows the ready screen.
//
// The form keeps its values while the phase moves from setup to login. Each time it comes on
// screen it takes the stored server address ("https://" while there is none) and folder, and
// puts the focus into the server field. Requests run in the background; while one is in flight
// the button shows a spinner and is disabled, and no second one starts. Main thread only.
class SetupView final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidth = 440;

    explicit SetupView(AppState& state, QWidget* parent = nullptr);

    // The form's state behind what it shows.
    bool isLoading() const { return m_request.isLoading; }
    bool codeSent() const { return m_codeSent; }
    std::optional<QString> errorMessage() const { return m_request.errorMessage; }
    QString syncDir() const { return m_syncDir; }

protected:
    void showEvent(QShowEvent* event) override;
    // Return anywhere in the form outside its text fields is the main button's shortcut.
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* makeHeader();
    QWidget* makeForm();
    QLayout* makeServerGroup(QWidget* form);
    QLayout* makeFolderGroup(QWidget* form);
    QLayout* makeSignInGroup(QWidget* form);
    QLayout* makeButtonRow(QWidget* form);

    void comeOnScreen();
    void chooseFolder();
    void submitForm();
    bool canSubmit() const;

    // The flow behind the main button.
    void checkServerThenSendCode();
    void requestCode(const QString& serverURL, const QString& syncDir);
    void codeRequested(const QString& serverURL, const QString& syncDir);
    void verify();
    void fail(const QString& message);
    // After an edit of the server or a new folder, the next press checks and stores again.
    void forgetSentCode();

    void refresh();

    AppState& m_state;
    QString m_syncDir;
    bool m_codeSent = false;
    RequestState m_request;

    QLabel* m_error = nullptr;
    QLineEdit* m_server = nullptr;
    FolderBox* m_folder = nullptr;
    QPushButton* m_change = nullptr;
    QLineEdit* m_email = nullptr;
    QLabel* m_hint = nullptr;
    QLineEdit* m_code = nullptr;
    SpinnerButton* m_submit = nullptr;
};

}  // namespace corvane
