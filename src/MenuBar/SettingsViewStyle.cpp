#include "MenuBar/SettingsViewStyle.h"

#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QPalette>

namespace corvane {
namespace {

qreal scale(SettingsTextStyle style)
{
    switch (style) {
    case SettingsTextStyle::body:
        return 1.0;
    case SettingsTextStyle::callout:
        return 0.95;
    case SettingsTextStyle::caption:
        return 0.85;
    }
    return 1.0;
}

}  // namespace

QGroupBox* makeSettingsSection(const QString& title, const QString& objectName, QWidget* parent)
{
    auto* section = new QGroupBox(title, parent);
    section->setObjectName(objectName);
    section->setAccessibleName(title);
    return section;
}

void setTabPadding(QLayout* layout)
{
    layout->setContentsMargins(kSettingsTabPadding, kSettingsTabPadding, kSettingsTabPadding,
                               kSettingsTabPadding);
}

void makeSecondary(QLabel* label)
{
    label->setTextFormat(Qt::PlainText);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    label->setPalette(palette);
}

QLabel* makeSecondaryLabel(const QString& text, SettingsTextStyle style, const QString& objectName,
                           QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    makeSecondary(label);
    label->setWordWrap(true);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * scale(style));
    label->setFont(font);
    return label;
}

}  // namespace corvane
