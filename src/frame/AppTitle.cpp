#include "frame/AppTitle.h"

namespace {
QString& titleStorage()
{
    static QString title = AppTitle::productName();
    return title;
}
} // namespace

const QString& AppTitle::productName()
{
    static const QString name = QStringLiteral("Corvanel");
    return name;
}

QString AppTitle::current() { return titleStorage(); }

void AppTitle::set(const QString& title) { titleStorage() = title; }

QString AppTitle::shortened(const QString& displayName)
{
    QString text = displayName;
    int space = text.lastIndexOf(QLatin1Char(' '));
    if (space < 0)
        return text;
    text.truncate(space);
    while (text.size() > 40) {
        space = text.lastIndexOf(QLatin1Char(' '));
        if (space < 0)
            break;
        text.truncate(space);
    }
    return text;
}

void AppTitle::shorten() { set(shortened(productName())); }
