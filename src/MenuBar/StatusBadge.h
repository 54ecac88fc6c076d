#pragma once

#include <QColor>
#include <QPixmap>
#include <QString>
#include <QWidget>

namespace corvane {

// The status header's badge: a 36-pixel circle of the tint at 15% opacity with the status
// symbol at 16 pixels in the tint on top. Main thread only.
class StatusBadge final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kDiameter = 36;
    static constexpr int kSymbolSize = 16;

    explicit StatusBadge(QWidget* parent = nullptr);

    void setStatus(const QString& symbolName, const QColor& tint);
    const QString& symbolName() const { return m_symbolName; }
    const QColor& tint() const { return m_tint; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_symbolName;
    QColor m_tint;
    QPixmap m_symbol;
};

}  // namespace corvane
