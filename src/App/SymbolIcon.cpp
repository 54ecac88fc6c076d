#include "App/SymbolIcon.h"

#include <QHash>
#include <QPainter>

namespace corvane {
namespace {

// Logical symbol name -> freedesktop icon-theme name.
const QHash<QString, QString>& themeNames()
{
    static const QHash<QString, QString> names{
        {QStringLiteral("arrow.triangle.2.circlepath.icloud"),
         QStringLiteral("emblem-synchronizing-symbolic")},
        {QStringLiteral("checkmark.icloud"), QStringLiteral("emblem-ok-symbolic")},
        {QStringLiteral("exclamationmark.icloud"), QStringLiteral("dialog-warning-symbolic")},
        {QStringLiteral("icloud.slash"), QStringLiteral("network-offline-symbolic")},
        {QStringLiteral("pause.circle"), QStringLiteral("media-playback-pause-symbolic")},
        {QStringLiteral("folder"), QStringLiteral("folder-symbolic")},
        {QStringLiteral("folder.fill"), QStringLiteral("folder")},
        {QStringLiteral("arrow.up.circle"), QStringLiteral("go-up-symbolic")},
        {QStringLiteral("arrow.down.circle"), QStringLiteral("go-down-symbolic")},
        {QStringLiteral("trash.circle"), QStringLiteral("user-trash-symbolic")},
        {QStringLiteral("exclamationmark.triangle"), QStringLiteral("dialog-warning-symbolic")},
        {QStringLiteral("person.2.circle"), QStringLiteral("system-users-symbolic")},
        {QStringLiteral("exclamationmark.circle.fill"), QStringLiteral("dialog-error-symbolic")},
        {QStringLiteral("pause.fill"), QStringLiteral("media-playback-pause-symbolic")},
        {QStringLiteral("play.fill"), QStringLiteral("media-playback-start-symbolic")},
        {QStringLiteral("gearshape"), QStringLiteral("preferences-system-symbolic")},
        {QStringLiteral("doc.text"), QStringLiteral("text-x-generic-symbolic")},
        {QStringLiteral("rectangle.portrait.and.arrow.right"),
         QStringLiteral("system-log-out-symbolic")},
        {QStringLiteral("arrow.triangle.2.circlepath"), QStringLiteral("view-refresh-symbolic")},
        {QStringLiteral("speedometer"), QStringLiteral("power-profile-performance-symbolic")},
        {QStringLiteral("person.circle"), QStringLiteral("avatar-default-symbolic")},
    };
    return names;
}

}  // namespace

QStringList knownSymbolNames()
{
    return themeNames().keys();
}

QIcon symbolIcon(const QString& symbolName)
{
    const auto found = themeNames().constFind(symbolName);
    if (found == themeNames().constEnd()) {
        return {};
    }
    return QIcon::fromTheme(*found, bundledSymbolIcon(symbolName));
}

QIcon bundledSymbolIcon(const QString& symbolName)
{
    if (!themeNames().contains(symbolName)) {
        return {};
    }
    return QIcon(QStringLiteral(":/corvane/symbols/%1.svg").arg(symbolName));
}

QIcon tintedSymbolIcon(const QString& symbolName, const QColor& color)
{
    const auto found = themeNames().constFind(symbolName);
    if (found == themeNames().constEnd()) {
        return {};
    }
    if (QIcon::hasThemeIcon(*found)) {
        return QIcon::fromTheme(*found);
    }
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        icon.addPixmap(symbolPixmap(symbolName, size, color));
    }
    return icon;
}

QPixmap symbolPixmap(const QString& symbolName, int size, const QColor& color,
                     qreal devicePixelRatio)
{
    const QIcon icon = symbolIcon(symbolName);
    if (icon.isNull()) {
        return {};
    }
    QPixmap pixmap = icon.pixmap(QSize(size, size), devicePixelRatio);
    // The icon's alpha is the symbol's shape; the colour is painted into it.
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), color);
    return pixmap;
}

}  // namespace corvane
