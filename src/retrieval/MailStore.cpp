#include "retrieval/MailStore.h"

#include "frame/VbError.h"

#include <QDir>
#include <QTemporaryFile>

#include <zstd.h>

#include <cstring>
#include <new>

namespace {

// The first byte of a packed body says how the rest holds the text.
enum Form : char {
    Utf8 = 'u',      // UTF-8 as is (short texts, or ones that do not shrink)
    Utf8Zstd = 'z',  // UTF-8, one zstd frame
    Utf16 = 'w',     // UTF-16 code units as is
    Utf16Zstd = 'Z', // UTF-16 code units, one zstd frame
};

// Below this many bytes a zstd frame's own header costs more than it saves.
constexpr qsizetype kCompressFrom = 64;
// Packed bodies from this size on go to the scratch file; smaller ones cost less to keep than
// their position in the file does.
constexpr qsizetype kSpillFrom = 256;
// Level 1: mail text still shrinks four to eight times, at several hundred MB/s; higher levels
// gain a few percent for several times the listing time.
constexpr int kLevel = 1;

bool hasUnpairedSurrogate(const QString& text)
{
    const QChar* c = text.constData();
    const QChar* end = c + text.size();
    for (; c < end; ++c) {
        if (c->isHighSurrogate()) {
            if (c + 1 == end || !(c + 1)->isLowSurrogate())
                return true;
            ++c;
        } else if (c->isLowSurrogate()) {
            return true;
        }
    }
    return false;
}

ZSTD_CCtx* compressor()
{
    // One context for the program's life: everything runs on the UI thread.
    static const std::unique_ptr<ZSTD_CCtx, size_t (*)(ZSTD_CCtx*)> context(ZSTD_createCCtx(), ZSTD_freeCCtx);
    if (!context)
        throw std::bad_alloc();
    return context.get();
}

ZSTD_DCtx* decompressor()
{
    static const std::unique_ptr<ZSTD_DCtx, size_t (*)(ZSTD_DCtx*)> context(ZSTD_createDCtx(), ZSTD_freeDCtx);
    if (!context)
        throw std::bad_alloc();
    return context.get();
}

QByteArray tagged(char form, const char* data, qsizetype size)
{
    QByteArray packed(size + 1, Qt::Uninitialized);
    packed[0] = form;
    if (size > 0)
        std::memcpy(packed.data() + 1, data, size_t(size));
    return packed;
}

} // namespace

MailStore::MailStore() = default;
MailStore::~MailStore() = default;

QByteArray MailStore::pack(const QString& text)
{
    if (text.isEmpty())
        return QByteArray();
    const bool utf16 = hasUnpairedSurrogate(text);
    const QByteArray utf8 = utf16 ? QByteArray() : text.toUtf8();
    const char* data = utf16 ? reinterpret_cast<const char*>(text.constData()) : utf8.constData();
    const qsizetype size = utf16 ? text.size() * qsizetype(sizeof(QChar)) : utf8.size();
    if (size >= kCompressFrom) {
        QByteArray frame(qsizetype(ZSTD_compressBound(size_t(size))), Qt::Uninitialized);
        const size_t written =
            ZSTD_compressCCtx(compressor(), frame.data(), size_t(frame.size()), data, size_t(size), kLevel);
        if (!ZSTD_isError(written) && qsizetype(written) < size)
            return tagged(utf16 ? Utf16Zstd : Utf8Zstd, frame.constData(), qsizetype(written));
    }
    return tagged(utf16 ? Utf16 : Utf8, data, size);
}

QString MailStore::unpack(const QByteArray& packed)
{
    if (packed.isEmpty())
        return QString();
    const char form = packed.at(0);
    const char* data = packed.constData() + 1;
    const size_t size = size_t(packed.size() - 1);
    QByteArray plain;
    if (form == Utf8Zstd || form == Utf16Zstd) {
        const unsigned long long length = ZSTD_getFrameContentSize(data, size);
        if (length == ZSTD_CONTENTSIZE_ERROR || length == ZSTD_CONTENTSIZE_UNKNOWN)
            throw std::bad_alloc(); // a frame this store wrote always records its length
        plain = QByteArray(qsizetype(length), Qt::Uninitialized);
        const size_t read = ZSTD_decompressDCtx(decompressor(), plain.data(), size_t(length), data, size);
        if (ZSTD_isError(read) || read != length)
            throw VbError(57, QStringLiteral("Device I/O error"));
        data = plain.constData();
    }
    if (form == Utf8 || form == Utf8Zstd)
        return QString::fromUtf8(data, qsizetype(form == Utf8 ? size : plain.size()));
    const qsizetype bytes = form == Utf16 ? qsizetype(size) : plain.size();
    return QString(reinterpret_cast<const QChar*>(data), bytes / qsizetype(sizeof(QChar)));
}

void MailStore::recreate(long long n)
{
    std::vector<Stored>().swap(m_records);
    if (m_spill) {
        // The file is kept for the next retrieval, emptied.
        if (!m_spill->resize(0))
            m_spill.reset();
    }
    m_spilledBytes = 0;
    if (n > 0)
        m_records.resize(size_t(n));
}

MailStore::Body MailStore::hold(const QString& text)
{
    Body body;
    body.packed = pack(text);
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
    const qint64 offset = m_spill->size();
    if (!m_spill->seek(offset) || m_spill->write(body.packed) != body.packed.size()) {
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
        return unpack(body.packed);
    QByteArray packed;
    if (m_spill && m_spill->seek(body.offset))
        packed = m_spill->read(body.length);
    if (packed.size() != body.length)
        throw VbError(57, QStringLiteral("Device I/O error"));
    return unpack(packed);
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
