#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QPushButton;

namespace corvane {

// The bottom of the panel, signed in or out: "Quit Corvane" at the left and the version line at
// the right when there is one. Main thread only.
class PanelFooter final : public QWidget {
    Q_OBJECT

public:
    // `versionText` empty: no version line.
    explicit PanelFooter(const QString& versionText, QWidget* parent = nullptr);

    QPushButton& quitButton() const { return *m_quit; }
    // Empty while hidden.
    QString versionText() const;

signals:
    void quitClicked();

private:
    QPushButton* m_quit;
    QLabel* m_version;
};

}  // namespace corvane
