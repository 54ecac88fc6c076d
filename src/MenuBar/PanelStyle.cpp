#include "MenuBar/PanelStyle.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QVBoxLayout>
#include <QWidget>

#include "App/ViewStyle.h"

namespace corvane {
namespace PanelStyle {

QFont systemFont(int pixelSize, QFont::Weight weight)
{
    QFont font = QApplication::font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QFont headlineFont()
{
    return systemFont(13, QFont::DemiBold);
}

QFont captionFont()
{
    return systemFont(11);
}

QFont caption2Font()
{
    return systemFont(10);
}

QColor secondaryColor(const QWidget& widget)
{
    QColor color = widget.palette().color(QPalette::WindowText);
    color.setAlphaF(0.5F);
    return color;
}

void setTextColor(QWidget& widget, const QColor& color)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::ButtonText, color);
    palette.setColor(QPalette::Text, color);
    widget.setPalette(palette);
}

QLabel* plainLabel(const QString& text, const QFont& font, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setFont(font);
    return label;
}

QWidget* sectionTitle(const QString& title, const QString& objectName, QWidget* parent)
{
    QLabel* label = plainLabel(title, systemFont(10, QFont::DemiBold), parent);
    label->setObjectName(objectName);
    label->setAccessibleName(title);
    label->setContentsMargins(kSideInset, 8, kSideInset, 0);
    setTextColor(*label, secondaryColor(*label));
    return label;
}

QFrame* divider(QWidget* parent)
{
    auto* line = makeDivider(parent);
    line->setObjectName(QStringLiteral("divider"));
    return line;
}

}  // namespace PanelStyle
}  // namespace corvane
