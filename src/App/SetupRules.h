#pragma once

#include <QString>

#include "App/AppPhase.h"

namespace corvane {

// The rules of the setup form, apart from any window. Pure functions.

// The server address as the setup checks and stores it: white space and line breaks cut at
// both ends, "https://" put in front unless it begins with "http://" or "https://" (exactly,
// in lower case), then one trailing "/" removed.
QString normalizedServerURL(const QString& typed);

// Whether the form may be submitted: a server address and an e-mail address, and once a code
// was sent a code too. Any character counts, blanks included; nothing else is checked.
bool canSubmitSetup(const QString& serverURL, const QString& email, const QString& code,
                    bool codeSent);

// Whether "Continue" must check the server and store the setup anew before it asks for a code:
// in phase setup, or when the address or the folder differ from the stored ones. Storing a
// setup forgets the folder's sync state, so signing in again to the same server and folder
// (after a sign-out, or after a failed code request) only asks the existing client for a code.
bool needsNewSetup(AppPhase phase, const QString& serverURL, const QString& syncDir,
                   const QString& storedServerURL, const QString& storedSyncDir);

}  // namespace corvane
