#include "frame/ErrorTail.h"

ErrorTail::ErrorTail(MessageBoxService& boxes, QString window, QString handler)
    : m_boxes(boxes)
    , m_location(locationText(window, handler))
{
}

void ErrorTail::report(int number, const QString& description)
{
    m_boxes.msgBox(message(description, m_location, number), MessageBoxService::Icon::Exclamation,
                   QStringLiteral("Application Error"));
}

QString ErrorTail::locationText(const QString& window, const QString& handler)
{
    return QStringLiteral("in Tessaline2021/08/31.") + window + QLatin1Char('.') + handler + QLatin1Char(' ');
}

QString ErrorTail::message(const QString& description, const QString& location, int number)
{
    return description + QStringLiteral("\r\n") + location + QStringLiteral("at line ") + QString::number(number)
        + QStringLiteral("\r\r") + QStringLiteral("Please email screenshot of this message to ") + supportAddress();
}

const QString& ErrorTail::supportAddress()
{
    static const QString address = QStringLiteral("support@wenlowe.com");
    return address;
}
