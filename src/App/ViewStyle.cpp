#include "App/ViewStyle.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvane {
namespace {

// Body text is 13 units on the scale the views' sizes are given in.
constexpr qreal kBodySize = 13.0;

}  // namespace

QFont systemFont(qreal size, QFont::Weight weight)
{
    QFont font = QApplication::font();
    const qreal factor = size / kBodySize;
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() * factor);
    } else {
        font.setPixelSize(qMax(1, qRound(font.pixelSize() * factor)));
    }
    font.setWeight(weight);
    return font;
}

QFont styledFont(TextStyle style)
{
    switch (style) {
    case TextStyle::largeTitle:
        return systemFont(26);
    case TextStyle::title:
        return systemFont(22);
    case TextStyle::title2:
        return systemFont(17);
    case TextStyle::headline:
        return systemFont(13, QFont::DemiBold);
    case TextStyle::body:
        return systemFont(13);
    case TextStyle::callout:
        return systemFont(12);
    case TextStyle::caption:
        return systemFont(10);
    }
    return systemFont(kBodySize);
}

QColor secondaryTextColor(const QPalette& palette)
{
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.6);
    return color;
}

QColor systemRed()
{
    return QColor(255, 59, 48);
}

QColor systemBlue()
{
    return QColor(0, 122, 255);
}

void setTextColor(QWidget& widget, const QColor& color)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget.setPalette(palette);
}

void styleLabel(QLabel& label, TextStyle style, bool secondary)
{
    label.setFont(styledFont(style));
    label.setTextFormat(Qt::PlainText);
    if (secondary) {
        setTextColor(label, secondaryTextColor(label.palette()));
    }
}

void makeProminent(QPushButton& button)
{
    QPalette palette = button.palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Button, palette.color(group, QPalette::Highlight));
        palette.setColor(group, QPalette::ButtonText,
                         palette.color(group, QPalette::HighlightedText));
    }
    button.setPalette(palette);
}

void makeLinkButton(QPushButton& button)
{
    button.setFlat(true);
    button.setCursor(Qt::PointingHandCursor);
    QPalette palette = button.palette();
    palette.setColor(QPalette::ButtonText, palette.color(QPalette::Link));
    button.setPalette(palette);
}

QFrame* makeDivider(QWidget* parent)
{
    auto* divider = new QFrame(parent);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setFixedHeight(1);
    QPalette palette = divider->palette();
    QColor line = palette.color(QPalette::WindowText);
    line.setAlphaF(0.15);
    palette.setColor(QPalette::WindowText, line);
    divider->setPalette(palette);
    return divider;
}

QVBoxLayout* makeColumn(int spacing, QWidget* owner)
{
    auto* layout = new QVBoxLayout(owner);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

QVBoxLayout* makeHeadedColumn(QWidget& view, QWidget* header)
{
    auto* layout = makeColumn(0, &view);
    layout->addWidget(header);
    layout->addWidget(makeDivider(&view));
    return layout;
}

QLabel* makeErrorLabel(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QStringLiteral("error"));
    styleLabel(*label, TextStyle::caption);
    setTextColor(*label, systemRed());
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

void showErrorLine(QLabel& line, const std::optional<QString>& error)
{
    line.setVisible(error.has_value());
    line.setText(error.value_or(QString()));
}

QLineEdit* makeTextField(const QString& objectName, const QString& placeholder,
                         const QString& accessibleName, QWidget* parent)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(objectName);
    field->setPlaceholderText(placeholder);
    field->setAccessibleName(accessibleName);
    field->setInputMethodHints(Qt::ImhNoAutoUppercase | Qt::ImhNoPredictiveText);
    return field;
}

}  // namespace corvane
