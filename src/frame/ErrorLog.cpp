#include "frame/ErrorLog.h"

#include "frame/GeneralDate.h"

#include <QDir>
#include <QFile>
#include <QStringConverter>

QString ErrorLog::path()
{
    QString folder = qEnvironmentVariable("TEMP");
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return QDir(folder).filePath(QStringLiteral("errorlog.txt"));
}

QByteArray ErrorLog::entry(const QString& text, const QDateTime& when)
{
    const QString line1 = GeneralDate::format(when) + QStringLiteral(" : ") + text;
    QStringEncoder toLocal(QStringConverter::System);
    QByteArray bytes = toLocal(line1);
    bytes += "\r\n";
    bytes += QByteArray(52, '*');
    bytes += "\r\n";
    return bytes;
}

void ErrorLog::append(const QString& text)
{
    QFile file(path());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    file.write(entry(text, QDateTime::currentDateTime()));
    file.close();
}
