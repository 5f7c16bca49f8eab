#pragma once

#include "retrieval/MailRecord.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <memory>
#include <vector>

// The application-wide array of message records, positions 1 to N. Each retrieval recreates
// it just before reading; the record at position k belongs to row k of the main list.
// An access outside 1..N raises subscript out of range (9).
//
// The records are held compactly and given back unchanged. The five header texts are kept as
// given: the list rows are handed the same texts, so both share one copy. The two bodies, which
// make up nearly all of a mailbox's text and are read only by the export, are kept packed
// (PackedText) and unpacked when read. Packed bodies of some size go to a scratch file in
// the temporary folder, readable by the user only and removed from the folder as soon as it is
// open (where the system allows), so that a folder of 100,000 messages does not hold its
// bodies in memory; when that file cannot be made or written, the bodies stay in memory.
class MailStore {
public:
    enum Field { From, FromName, FromAddress, Subject, ReceivedDate, PlainTextBody, HTMLTextBody };

    MailStore();
    ~MailStore();
    MailStore(const MailStore&) = delete;
    MailStore& operator=(const MailStore&) = delete;

    void recreate(long long n); // positions 1..n, every field empty; n <= 0 gives none
    int size() const { return int(m_records.size()); }
    bool contains(int k) const { return k >= 1 && k <= size(); }

    MailRecord at(int k) const;              // the seven texts of position k
    QString field(int k, Field field) const; // one of them, unpacking only that one
    void set(int k, Field field, const QString& text);
    void set(int k, const MailRecord& record);

    // The folder of the scratch file, for a store that has not made it yet (by default the
    // temporary folder at that moment).
    void setScratchFolder(const QString& folder) { m_scratchFolder = folder; }

    // Bytes the packed bodies take, in memory and in the scratch file (for the benchmarks).
    qint64 packedBodyBytes() const;
    qint64 spilledBodyBytes() const { return m_spilledBytes; }

private:
    // A packed body: in memory, or `length` bytes at `offset` in the scratch file.
    struct Body {
        QByteArray packed;
        qint64 offset = -1;
        qint32 length = 0;
    };
    struct Stored {
        QString From;
        QString FromName;
        QString FromAddress;
        QString Subject;
        QString ReceivedDate;
        Body PlainTextBody;
        Body HTMLTextBody;
    };

    Stored& stored(int k);
    const Stored& stored(int k) const;
    Body hold(const QString& text);
    QString read(const Body& body) const;

    std::vector<Stored> m_records;
    QString m_scratchFolder;
    std::unique_ptr<QFile> m_spill; // the scratch file, once a body needed it
    bool m_spillFailed = false;     // it could not be made or written: bodies stay in memory
    qint64 m_spilledBytes = 0;
};
