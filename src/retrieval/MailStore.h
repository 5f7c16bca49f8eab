#pragma once

#include "retrieval/MailRecord.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

// The application-wide array of message records, positions 1 to N. Each retrieval recreates
// it just before reading; the record at position k belongs to row k of the main list.
// An access outside 1..N raises subscript out of range (9).
//
// The records are held compactly and given back unchanged. The five header texts are kept as
// given: the list rows are handed the same texts, so both share one copy. The two bodies, which
// make up nearly all of a mailbox's text and are read only by the export, are kept as UTF-8
// compressed with zstd (UTF-16 when the text holds an unpaired surrogate, which UTF-8 cannot
// carry); a body is unpacked when it is read.
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

    // Bytes the bodies take as held (for the benchmarks' memory figures).
    qint64 packedBodyBytes() const;

    // A body's held form and back; exposed for the round-trip tests and the benchmarks.
    static QByteArray pack(const QString& text);
    static QString unpack(const QByteArray& packed);

private:
    struct Stored {
        QString From;
        QString FromName;
        QString FromAddress;
        QString Subject;
        QString ReceivedDate;
        QByteArray PlainTextBody;
        QByteArray HTMLTextBody;
    };

    Stored& stored(int k);
    const Stored& stored(int k) const;

    std::vector<Stored> m_records;
};
