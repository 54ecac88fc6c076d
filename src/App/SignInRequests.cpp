#include "App/SignInRequests.h"

#include <string>
#include <utility>

#include "API/APIClient.h"
#include "App/AppState.h"
#include "App/BackgroundCall.h"

namespace corvane {

void requestSignInCode(QObject* context, AppState& state, const QString& email,
                       std::function<void()> onSent,
                       std::function<void(const QString& error)> onFailure)
{
    runInBackground(
        context,
        [client = state.apiClient(), email = email.toStdString()] { client->sendCode(email); },
        std::move(onSent), std::move(onFailure));
}

void verifyAndSignIn(QObject* context, AppState& state, const QString& email, const QString& code,
                     std::function<void()> onSignedIn,
                     std::function<void(const QString& error)> onFailure)
{
    runInBackground(
        context,
        [client = state.apiClient(), email = email.toStdString(), code = code.toStdString()] {
            return client->verify(email, code);
        },
        [&state, onSignedIn = std::move(onSignedIn)](const VerifyResponse& answer) {
            state.login(QString::fromStdString(answer.token),
                        QString::fromStdString(answer.user.email));
            onSignedIn();
        },
        std::move(onFailure));
}

}  // namespace corvane
