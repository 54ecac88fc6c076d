#include "App/FolderBox.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

#include "App/ElidedLabel.h"
#include "App/SymbolIcon.h"
#include "App/ViewStyle.h"

namespace corvane {

FolderBox::FolderBox(const Look& look, const QString& pathObjectName, QWidget* parent)
    : QWidget(parent), m_look(look), m_layout(new QHBoxLayout(this)), m_symbol(new QLabel(this)),
      m_path(new ElidedLabel(this))
{
    m_layout->setContentsMargins(look.padding, look.padding, look.padding, look.padding);
    m_layout->setSpacing(look.spacing);

    const int symbolSize = QFontMetrics(look.pathFont).height();
    m_symbol->setObjectName(QStringLiteral("folderSymbol"));
    m_symbol->setAccessibleName(tr("Folder"));
    m_symbol->setPixmap(
        symbolPixmap(QStringLiteral("folder.fill"), symbolSize, systemBlue(), devicePixelRatioF()));
    m_symbol->setFixedSize(symbolSize, symbolSize);

    m_path->setObjectName(pathObjectName);
    m_path->setFont(look.pathFont);

    m_layout->addWidget(m_symbol);
    m_layout->addWidget(m_path, 1);
}

QString FolderBox::path() const
{
    return m_path->text();
}

void FolderBox::setPath(const QString& path)
{
    m_path->setText(path);
}

void FolderBox::addTrailing(QWidget* widget)
{
    // The path no longer takes the spare width: it goes to the space before the widget.
    m_layout->setStretchFactor(m_path, 0);
    m_layout->addStretch(1);
    m_layout->addWidget(widget);
}

void FolderBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(box, m_look.cornerRadius, m_look.cornerRadius);
    painter.fillPath(shape, palette().color(QPalette::Base));
    if (m_look.outlined) {
        QColor separator = palette().color(QPalette::WindowText);
        separator.setAlphaF(0.15);
        painter.setPen(QPen(separator, 1));
        painter.drawPath(shape);
    }
}

}  // namespace corvane
