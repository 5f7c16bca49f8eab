#include "export/WorkbookFile.h"

#include "frame/VbError.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

QString WorkbookFile::createUnique()
{
    return createUnique(QDir::tempPath(),
                        QStringLiteral("Corvanel-")
                            + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
}

QString WorkbookFile::createUnique(const QString& folder, const QString& stem)
{
    const QDir dir(folder);
    QString path;
    QString reason;
    for (int attempt = 1; attempt <= 1000; ++attempt) {
        path = dir.filePath(stem + (attempt == 1 ? QString() : QStringLiteral("-%1").arg(attempt))
                            + QStringLiteral(".xlsx"));
        if (QFile::exists(path))
            continue;
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return path;
        reason = file.errorString();
        if (!QFile::exists(path))
            break;  // not a name clash: the folder refuses the file
    }
    if (reason.isEmpty())
        reason = QStringLiteral("every name is taken");
    throw VbError(75, QStringLiteral("Cannot create the workbook file \"%1\": %2")
                          .arg(QDir::toNativeSeparators(path), reason));
}
