#pragma once

#include <QString>
#include <QWidget>

#include "App/ViewStyle.h"

class QLabel;

namespace corvane {

// The top of the sign-in forms: the logo, "Corvane" in bold, and one line under it (the
// product's tagline, or the server's address as plain text). Main thread only.
class LogoHeader final : public QWidget {
    Q_OBJECT

public:
    struct Look {
        qreal logoSize;
        TextStyle titleStyle;
        TextStyle lineStyle;
    };

    LogoHeader(const Look& look, const QString& lineObjectName, QWidget* parent = nullptr);

    // The line under the title, secondary text.
    QLabel& line() { return *m_line; }

private:
    QLabel* m_line;
};

}  // namespace corvane
