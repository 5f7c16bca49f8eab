#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

// Writes messages straight into a Maildir++ tree (the inbox in the root, the other folders in
// ".Name" subfolders) and reads back what the server did to them. Files and folders are given
// to the owner that the mail server runs as, so that it can rename and index them.
class MaildirWriter {
public:
    // owner/group: numeric ids given to every created file and folder; -1 leaves them alone.
    MaildirWriter(const QString& root, int owner, int group);

    const QString& root() const { return m_root; }

    // The folder's directory; "Inbox" (any case) is the root itself.
    QString folderPath(const QString& folder) const;
    // Creates the folder with its cur/new/tmp subfolders (and the root when missing).
    bool createFolder(const QString& folder);

    // Stores one message in cur/ with the given Maildir flags (for example "S" for \Seen)
    // and returns its unique name, or an empty text when it could not be written. Names sort
    // in the order of writing, so the server numbers the messages in that order. The file
    // name carries no size field. A valid `received` becomes the file's modification time,
    // which the server reports as the message's INTERNALDATE.
    QString write(const QString& folder, const QByteArray& raw, const QString& flags = QString(),
                  const QDateTime& received = QDateTime());

    // The Maildir flag letters of the message with this unique name, wherever the server has
    // moved it (new/ or cur/); *found tells whether the message is there at all.
    QString flags(const QString& folder, const QString& unique, bool* found = nullptr) const;
    bool isSeen(const QString& folder, const QString& unique) const;

    // Unique names of the folder's messages, in the order the names sort (the writing order).
    QStringList uniques(const QString& folder) const;

private:
    QString fileOf(const QString& folder, const QString& unique) const;
    void own(const QString& path) const;

    QString m_root;
    int m_owner;
    int m_group;
    static int s_counter;
};
