#include "retrieval/MailStore.h"

#include "retrieval/PackedText.h"

#include "frame/VbError.h"

#include <QDir>
#include <QTemporaryFile>

namespace {

// Packed bodies from this size on go to the scratch file; smaller ones cost less to keep than
// their position in the file does.
constexpr qsizetype kSpillFrom = 256;

} // namespace

MailStore::MailStore() = default;
MailStore::~MailStore() = default;

void MailStore::recreate(long long n)
{
    std::vector<Stored>().swap(m_records);
    // The file is kept for the next retrieval, emptied; one that failed is tried afresh.
    if (m_spill && (m_spillFailed || !m_spill->resize(0)))
        m_spill.reset();
    m_spillFailed = false;
    m_spilledBytes = 0;
    if (n > 0)
        m_records.resize(size_t(n));
}

MailStore::Body MailStore::hold(const QString& text)
{
    Body body;
    body.packed = PackedText::pack(text);
    if (body.packed.size() < kSpillFrom || m_spillFailed)
        return body;
    if (!m_spill) {
        auto file = std::make_unique<QTemporaryFile>(
            (m_scratchFolder.isEmpty() ? QDir::tempPath() : m_scratchFolder) +
            QStringLiteral("/corvanel-bodies-XXXXXX"));
        if (!file->open()) {
            m_spillFailed = true;
            return body;
        }
        // Open, the file is still ours after its name is gone (not so on Windows, where the
        // name stays until the file is closed and QTemporaryFile removes it).
        QFile::remove(file->fileName());
        m_spill = std::move(file);
    }
    // Bodies are appended one after the other from an emptied file, so the bytes written so far
    // are where this one starts; a read since the last write has moved the position elsewhere.
    const qint64 offset = m_spilledBytes;
    // Flushed at once: a write the system refuses leaves this body in memory, not lost.
    if ((m_spill->pos() != offset && !m_spill->seek(offset)) ||
        m_spill->write(body.packed) != body.packed.size() || !m_spill->flush()) {
        m_spillFailed = true; // the disk is full or gone: what follows stays in memory
        return body;
    }
    body.offset = offset;
    body.length = qint32(body.packed.size());
    m_spilledBytes += body.length;
    body.packed = QByteArray();
    return body;
}

QString MailStore::read(const Body& body) const
{
    if (body.offset < 0)
        return PackedText::unpack(body.packed);
    QByteArray packed;
    if (m_spill && m_spill->seek(body.offset))
        packed = m_spill->read(body.length);
    if (packed.size() != body.length)
        throw VbError(57, QStringLiteral("Device I/O error"));
    return PackedText::unpack(packed);
}

MailStore::Stored& MailStore::stored(int k)
{
    if (!contains(k))
        throw VbError::subscriptOutOfRange();
    return m_records[size_t(k - 1)];
}

const MailStore::Stored& MailStore::stored(int k) const
{
    if (!contains(k))
        throw VbError::subscriptOutOfRange();
    return m_records[size_t(k - 1)];
}

MailRecord MailStore::at(int k) const
{
    const Stored& s = stored(k);
    return MailRecord{s.From,
                      s.FromName,
                      s.FromAddress,
                      s.Subject,
                      s.ReceivedDate,
                      read(s.PlainTextBody),
                      read(s.HTMLTextBody)};
}

QString MailStore::field(int k, Field field) const
{
    const Stored& s = stored(k);
    switch (field) {
    case From:
        return s.From;
    case FromName:
        return s.FromName;
    case FromAddress:
        return s.FromAddress;
    case Subject:
        return s.Subject;
    case ReceivedDate:
        return s.ReceivedDate;
    case PlainTextBody:
        return read(s.PlainTextBody);
    case HTMLTextBody:
        return read(s.HTMLTextBody);
    }
    return QString();
}

void MailStore::set(int k, Field field, const QString& text)
{
    Stored& s = stored(k);
    switch (field) {
    case From:
        s.From = text;
        break;
    case FromName:
        s.FromName = text;
        break;
    case FromAddress:
        s.FromAddress = text;
        break;
    case Subject:
        s.Subject = text;
        break;
    case ReceivedDate:
        s.ReceivedDate = text;
        break;
    case PlainTextBody:
        s.PlainTextBody = hold(text);
        break;
    case HTMLTextBody:
        s.HTMLTextBody = hold(text);
        break;
    }
}

void MailStore::set(int k, const MailRecord& record)
{
    Stored& s = stored(k);
    Body plain = hold(record.PlainTextBody);
    Body html = hold(record.HTMLTextBody);
    s = Stored{record.From,         record.FromName,  record.FromAddress, record.Subject,
               record.ReceivedDate, std::move(plain), std::move(html)};
}

qint64 MailStore::packedBodyBytes() const
{
    qint64 total = m_spilledBytes;
    for (const Stored& s : m_records)
        total += s.PlainTextBody.packed.size() + s.HTMLTextBody.packed.size();
    return total;
}
