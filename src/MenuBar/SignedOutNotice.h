#pragma once

#include <QWidget>

class QPushButton;

namespace corvane {

// The signed-out panel: the "icloud.slash" symbol, "Not connected" and the "Log In..." button.
// Main thread only.
class SignedOutNotice final : public QWidget {
    Q_OBJECT

public:
    explicit SignedOutNotice(QWidget* parent = nullptr);

    QPushButton& logInButton() const { return *m_logIn; }

signals:
    void logInClicked();

private:
    QPushButton* m_logIn;
};

}  // namespace corvane
