#include "frame/ErrorLog.h"

#include "frame/GeneralDate.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QStringConverter>

#include <limits>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

QString ErrorLog::path()
{
    QString folder = qEnvironmentVariable("TEMP");
    if (folder.isEmpty())
        folder = QDir::tempPath();
    // Asked after every fetch: joined by hand, as QDir::filePath would join it.
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder + QStringLiteral("errorlog.txt");
}

QByteArray ErrorLog::entry(const QString& text, const QDateTime& when)
{
    // A retrieval writes an entry after every fetch, thousands a second, and the stamp changes
    // once a second: the last one is kept with the second and the locale it was made for.
    static qint64 stampSecond = std::numeric_limits<qint64>::min();
    static QString stampLocale;
    static QString stamp;
    const qint64 second = when.toSecsSinceEpoch();
    const QString locale = QLocale::system().name();
    if (second != stampSecond || locale != stampLocale) {
        stamp = GeneralDate::format(when);
        stampSecond = second;
        stampLocale = locale;
    }
    const QString line1 = stamp + QStringLiteral(" : ") + text;
    QStringEncoder toLocal(QStringConverter::System);
    QByteArray bytes = toLocal(line1);
    bytes += "\r\n";
    bytes += QByteArray(52, '*');
    bytes += "\r\n";
    return bytes;
}

void ErrorLog::append(const QString& text)
{
    const QByteArray bytes = entry(text, QDateTime::currentDateTime());
#ifdef Q_OS_UNIX
    // One entry after every fetch: the plain system calls cost a quarter of QFile's open,
    // which also looks the file up and sizes its buffers each time.
    const int fd =
        ::open(QFile::encodeName(path()).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return;
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            break;
        data += written;
        left -= written;
    }
    ::close(fd);
#else
    QFile file(path());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    file.write(bytes);
    file.close();
#endif
}
