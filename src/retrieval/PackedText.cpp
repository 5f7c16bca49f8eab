#include "retrieval/PackedText.h"

#include "frame/VbError.h"

#include <QStringEncoder>

#include <zstd.h>

#include <cstring>
#include <memory>
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
// The fastest regular level's faster neighbour: mail text still shrinks four to eight times (a few
// percent less than at level 1) in half the time per body, which the listing spends once per
// message; higher levels gain a few percent for several times the listing time.
constexpr int kLevel = -1;

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

QByteArray PackedText::pack(const QString& text, Compression compression)
{
    if (text.isEmpty())
        return QByteArray();
    // The UTF-8 form and the frame are made in scratch space kept between calls (a listing packs
    // two bodies per message); only the packed result gets memory of its own. Large texts get
    // scratch space of their own, so the kept space stays small.
    static QByteArray keptUtf8;
    static QByteArray keptFrame;
    constexpr qsizetype kKeepUpTo = 256 * 1024;
    QByteArray ownUtf8;
    QByteArray ownFrame;
    QStringEncoder toUtf8(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
    const qsizetype utf8Space = toUtf8.requiredSpace(text.size());
    QByteArray& utf8 = utf8Space <= kKeepUpTo ? keptUtf8 : ownUtf8;
    if (utf8.size() < utf8Space)
        utf8.resize(utf8Space);
    const qsizetype utf8Size = toUtf8.appendToBuffer(utf8.data(), text) - utf8.data();
    // UTF-8 cannot carry an unpaired surrogate: the encoder counts one as an error (a stateless
    // one also at the very end), and such a text is kept as UTF-16.
    const bool utf16 = toUtf8.hasError();
    const char* data = utf16 ? reinterpret_cast<const char*>(text.constData()) : utf8.constData();
    const qsizetype size = utf16 ? text.size() * qsizetype(sizeof(QChar)) : utf8Size;
    if (compression == Compressed && size >= kCompressFrom) {
        const qsizetype bound = qsizetype(ZSTD_compressBound(size_t(size)));
        QByteArray& frame = bound <= kKeepUpTo ? keptFrame : ownFrame;
        if (frame.size() < bound)
            frame.resize(bound);
        const size_t written =
            ZSTD_compressCCtx(compressor(), frame.data(), size_t(bound), data, size_t(size), kLevel);
        if (!ZSTD_isError(written) && qsizetype(written) < size)
            return tagged(utf16 ? Utf16Zstd : Utf8Zstd, frame.constData(), qsizetype(written));
    }
    return tagged(utf16 ? Utf16 : Utf8, data, size);
}

QString PackedText::unpack(const QByteArray& packed)
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
