#include "frame/TimeZoneLookup.h"

#include <QByteArray>

#include <ctime>

void pinTimeZoneLookup()
{
    if (qEnvironmentVariableIsSet("TZ"))
        return;
    qputenv("TZ", QByteArrayLiteral(":/etc/localtime"));
    tzset();
}
