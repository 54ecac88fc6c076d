#pragma once

#include <optional>

#include <QString>
#include <QWidget>

#include "App/RequestState.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace corvane {

class AppState;
class SpinnerButton;

// A two-step sign-in for the server already set up: the e-mail address, for which the server
// sends a code, then the code, which signs in through AppState. "Change Server" sends the
// application back to its setup phase. No scene shows it: the setup window signs in.
//
// Requests run in the background; while one is in flight its step's button shows a spinner and
// is disabled, and Return in the fields starts no second request either. Main thread only.
class LoginView final : public QWidget {
    Q_OBJECT

public:
    enum class LoginStep { email, code };

    static constexpr int kWidth = 380;

    explicit LoginView(AppState& state, QWidget* parent = nullptr);

    LoginStep step() const { return m_step; }
    bool isLoading() const { return m_request.isLoading; }
    std::optional<QString> errorMessage() const { return m_request.errorMessage; }

private:
    QWidget* makeHeader();
    QWidget* makeEmailStep();
    QWidget* makeCodeStep();

    void sendCode();
    void verify();
    void useDifferentEmail();
    void changeServer();
    void fail(const QString& message);
    void refresh();

    AppState& m_state;
    LoginStep m_step = LoginStep::email;
    RequestState m_request;

    QLabel* m_serverURL = nullptr;
    QLabel* m_error = nullptr;
    QWidget* m_emailStep = nullptr;
    QLineEdit* m_email = nullptr;
    SpinnerButton* m_sendCode = nullptr;
    QWidget* m_codeStep = nullptr;
    QLabel* m_hint = nullptr;
    QLineEdit* m_code = nullptr;
    SpinnerButton* m_logIn = nullptr;
};

}  // namespace corvane
