#include "frame/FileExists.h"

#include <QCoreApplication>
#include <QFileInfo>

bool FileExists(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() && info.isFile() && info.lastModified().isValid();
}

QString applicationFolder() { return QCoreApplication::applicationDirPath(); }
