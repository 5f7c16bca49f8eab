#include "export/SystemSpreadsheetDesktop.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

const QString& SystemSpreadsheetDesktop::xlsxMimeType()
{
    static const QString type
        = QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet");
    return type;
}

const QStringList& SystemSpreadsheetDesktop::knownPrograms()
{
    static const QStringList programs = {
        QStringLiteral("libreoffice"),
        QStringLiteral("localc"),
        QStringLiteral("soffice"),
        QStringLiteral("gnumeric"),
        QStringLiteral("calligrasheets"),
        QStringLiteral("onlyoffice-desktopeditors"),
        QStringLiteral("desktopeditors"),
        QStringLiteral("wps"),
        QStringLiteral("et"),
    };
    return programs;
}

QString SystemSpreadsheetDesktop::xdgDefaultApplication()
{
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty())
        return {};
    QProcess query;
    query.setProcessChannelMode(QProcess::SeparateChannels);
    query.start(xdgMime, {QStringLiteral("query"), QStringLiteral("default"), xlsxMimeType()});
    // xdg-mime answers from local files; a few seconds covers a slow first start.
    if (!query.waitForFinished(5000)) {
        query.kill();
        query.waitForFinished(1000);
        return {};
    }
    if (query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
}

bool SystemSpreadsheetDesktop::canOpenXlsx()
{
#if defined(Q_OS_WIN)
    // The program associated with .xlsx: the user's own choice first, then the class
    // registered for the extension.
    const QSettings choice(
        QStringLiteral(
            "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\."
            "xlsx\\UserChoice"),
        QSettings::NativeFormat);
    if (!choice.value(QStringLiteral("ProgId")).toString().isEmpty())
        return true;
    const QSettings extension(QStringLiteral("HKEY_CLASSES_ROOT\\.xlsx"), QSettings::NativeFormat);
    const QString progId = extension.value(QStringLiteral("Default")).toString();
    if (progId.isEmpty())
        return false;
    const QSettings command(QStringLiteral("HKEY_CLASSES_ROOT\\") + progId + QStringLiteral("\\shell"),
                            QSettings::NativeFormat);
    return !command.childGroups().isEmpty();
#else
    if (!xdgDefaultApplication().isEmpty())
        return true;
    for (const QString& program : knownPrograms())
        if (!QStandardPaths::findExecutable(program).isEmpty())
            return true;
#if defined(Q_OS_MACOS)
    for (const char* bundle :
         {"/Applications/Microsoft Excel.app", "/Applications/LibreOffice.app", "/Applications/Numbers.app"})
        if (QFileInfo(QString::fromLatin1(bundle)).isDir())
            return true;
#endif
    return false;
#endif
}

bool SystemSpreadsheetDesktop::open(const QString& path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
