#pragma once

#include <functional>

#include <QString>

class QObject;

namespace corvane {

class AppState;

// The two requests of signing in, on AppState's client as it stands: each runs in the
// background and hands its outcome to the main thread, or nothing once `context` is gone
// (runInBackground). Failures arrive as the error's text. Main thread only.

// Asks the server to mail a sign-in code to `email`, sent exactly as typed.
void requestSignInCode(QObject* context, AppState& state, const QString& email,
                       std::function<void()> onSent,
                       std::function<void(const QString& error)> onFailure);

// Verifies `code` for `email`, both sent as typed, and signs in with the answer's token and
// the server's form of the address (not the typed one).
void verifyAndSignIn(QObject* context, AppState& state, const QString& email, const QString& code,
                     std::function<void()> onSignedIn,
                     std::function<void(const QString& error)> onFailure);

}  // namespace corvane
