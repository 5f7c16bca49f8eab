#include "support/MaildirWriter.h"

#include "mail/ModifiedUtf7.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

#include <unistd.h>

int MaildirWriter::s_counter = 0;

MaildirWriter::MaildirWriter(const QString& root, int owner, int group)
    : m_root(root), m_owner(owner), m_group(group)
{
}

QString MaildirWriter::folderPath(const QString& folder) const
{
    if (folder.compare(QLatin1String("Inbox"), Qt::CaseInsensitive) == 0)
        return m_root;
    // Maildir++ keeps a hierarchy in one level, with "." between the levels, and names in
    // modified UTF-7.
    QString name = QString::fromLatin1(ModifiedUtf7::encode(folder));
    name.replace(QLatin1Char('/'), QLatin1Char('.'));
    return m_root + QLatin1String("/.") + name;
}

void MaildirWriter::own(const QString& path) const
{
    if (m_owner >= 0 || m_group >= 0) {
        const QByteArray local = QFile::encodeName(path);
        if (::chown(local.constData(), uid_t(m_owner), gid_t(m_group)) != 0)
            qWarning("MaildirWriter: chown %s failed", local.constData());
    }
}

bool MaildirWriter::createFolder(const QString& folder)
{
    const auto perms = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                       | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    QStringList paths{m_root};
    const QString path = folderPath(folder);
    if (path != m_root)
        paths.append(path);
    for (const QString& dir : {QStringLiteral("cur"), QStringLiteral("new"), QStringLiteral("tmp")})
        paths.append(path + QLatin1Char('/') + dir);
    for (const QString& p : paths) {
        if (!QDir().mkpath(p))
            return false;
        QFile::setPermissions(p, perms);
        own(p);
    }
    // A folder other than the inbox is only a folder with this marker file.
    if (path != m_root) {
        QFile marker(path + QLatin1String("/maildirfolder"));
        if (!marker.exists() && marker.open(QIODevice::WriteOnly))
            marker.close();
        own(marker.fileName());
    }
    return true;
}

QString MaildirWriter::write(const QString& folder, const QByteArray& raw, const QString& flags,
                            const QDateTime& received)
{
    const QString dir = folderPath(folder);
    if (!QDir(dir + QLatin1String("/cur")).exists() && !createFolder(folder))
        return QString();
    // The server numbers new files by the time stamp at the start of the name: one second
    // per message keeps the writing order.
    const int n = ++s_counter;
    const QString unique = QStringLiteral("%1.M%2P%3Q%4.corvanel")
                               .arg(1600000000 + n)
                               .arg(n % 1000000, 6, 10, QLatin1Char('0'))
                               .arg(QCoreApplication::applicationPid())
                               .arg(n);
    const QString temp = dir + QLatin1String("/tmp/") + unique;
    QFile file(temp);
    if (!file.open(QIODevice::WriteOnly) || file.write(raw) != raw.size()) {
        file.remove();
        return QString();
    }
    file.flush();
    if (received.isValid())
        file.setFileTime(received, QFileDevice::FileModificationTime);
    file.close();
    own(temp);
    QSet<QChar> letters;
    QString sorted;
    for (const QChar c : flags)
        letters.insert(c);
    for (const QChar c : letters)
        sorted.append(c);
    std::sort(sorted.begin(), sorted.end());
    const QString target = dir + QLatin1String("/cur/") + unique + QLatin1String(":2,") + sorted;
    if (!QFile::rename(temp, target)) {
        QFile::remove(temp);
        return QString();
    }
    return unique;
}

QString MaildirWriter::fileOf(const QString& folder, const QString& unique) const
{
    const QString dir = folderPath(folder);
    for (const QString& sub : {QStringLiteral("cur"), QStringLiteral("new")}) {
        const QStringList names =
            QDir(dir + QLatin1Char('/') + sub).entryList({unique + QLatin1Char('*')}, QDir::Files);
        for (const QString& name : names)
            if (name == unique || name.startsWith(unique + QLatin1Char(':'))
                || name.startsWith(unique + QLatin1Char(',')))
                return name;
    }
    return QString();
}

QString MaildirWriter::flags(const QString& folder, const QString& unique, bool* found) const
{
    const QString name = fileOf(folder, unique);
    if (found)
        *found = !name.isEmpty();
    const int info = name.indexOf(QLatin1String(":2,"));
    return info < 0 ? QString() : name.mid(info + 3);
}

bool MaildirWriter::isSeen(const QString& folder, const QString& unique) const
{
    return flags(folder, unique).contains(QLatin1Char('S'));
}

QStringList MaildirWriter::uniques(const QString& folder) const
{
    const QString dir = folderPath(folder);
    QStringList result;
    for (const QString& sub : {QStringLiteral("cur"), QStringLiteral("new")}) {
        for (const QString& name : QDir(dir + QLatin1Char('/') + sub).entryList(QDir::Files)) {
            const int end = name.indexOf(QRegularExpression(QStringLiteral("[:,]")));
            result.append(end < 0 ? name : name.left(end));
        }
    }
    std::sort(result.begin(), result.end());
    return result;
}
