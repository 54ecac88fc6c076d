#pragma once

#include <QString>
#include <QWidget>

class QHBoxLayout;
class QLabel;

namespace corvane {

class ElidedLabel;

// A rounded box that shows a folder: the blue folder symbol, then the folder's path on one
// line, shortened in the middle when it does not fit. The setup form adds its "Change..."
// button at the end. Main thread only.
class FolderBox final : public QWidget {
    Q_OBJECT

public:
    struct Look {
        int padding = 8;
        int spacing = 6;  // between the symbol, the path and what follows
        qreal cornerRadius = 6;
        bool outlined = false;  // a one-pixel separator-coloured outline
        QFont pathFont;
    };

    // `pathObjectName`: the object name of the path's label, which tests and assistive tools
    // look for.
    FolderBox(const Look& look, const QString& pathObjectName, QWidget* parent = nullptr);

    QString path() const;
    void setPath(const QString& path);
    ElidedLabel& pathLabel() { return *m_path; }
    // Puts `widget` at the box's end, after a flexible space.
    void addTrailing(QWidget* widget);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const Look m_look;
    QHBoxLayout* m_layout;
    QLabel* m_symbol;
    ElidedLabel* m_path;
};

}  // namespace corvane
