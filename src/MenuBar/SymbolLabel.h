#pragma once

#include <QColor>
#include <QLabel>
#include <QString>

namespace corvane {

// A system symbol painted in one colour at a given size, centred in a frame of a fixed width
// (its height follows the symbol). Keeps the symbol's logical name for tests. Main thread only.
class SymbolLabel final : public QLabel {
    Q_OBJECT

public:
    SymbolLabel(int symbolSize, int frameWidth, QWidget* parent = nullptr);

    // Draws again only when the name or the colour differs from what is shown.
    void setSymbol(const QString& symbolName, const QColor& color);
    const QString& symbolName() const { return m_symbolName; }
    const QColor& color() const { return m_color; }

private:
    const int m_symbolSize;
    QString m_symbolName;
    QColor m_color;
};

}  // namespace corvane
