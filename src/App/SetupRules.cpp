#include "App/SetupRules.h"

namespace corvane {

QString normalizedServerURL(const QString& typed)
{
    QString address = typed.trimmed();
    if (!address.startsWith(QStringLiteral("http://")) &&
        !address.startsWith(QStringLiteral("https://"))) {
        address.prepend(QStringLiteral("https://"));
    }
    if (address.endsWith(QLatin1Char('/'))) {
        address.chop(1);
    }
    return address;
}

bool canSubmitSetup(const QString& serverURL, const QString& email, const QString& code,
                    bool codeSent)
{
    return !serverURL.isEmpty() && !email.isEmpty() && (!codeSent || !code.isEmpty());
}

bool needsNewSetup(AppPhase phase, const QString& serverURL, const QString& syncDir,
                   const QString& storedServerURL, const QString& storedSyncDir)
{
    return phase == AppPhase::setup || serverURL != storedServerURL || syncDir != storedSyncDir;
}

}  // namespace corvane
