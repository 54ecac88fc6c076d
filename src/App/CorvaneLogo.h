#pragma once

#include <QWidget>

class QPainter;

namespace corvane {

// The client's mark, drawn rather than loaded: a dark rounded square holding a white hexagon
// outline and three half-white inner lines, on a 32-unit grid scaled to the logo's size.
// Main thread only.
class CorvaneLogo final : public QWidget {
    Q_OBJECT

public:
    static constexpr qreal kDefaultSize = 48;

    // `size`: the square's edge in device-independent pixels.
    explicit CorvaneLogo(qreal size = kDefaultSize, QWidget* parent = nullptr);

    qreal logoSize() const { return m_size; }

    // Paints the mark into the square (0, 0, size, size) of `painter`'s device.
    static void paint(QPainter& painter, qreal size);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const qreal m_size;
};

}  // namespace corvane
