#include "frame/CommandOutputDecoder.h"

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace {
#ifdef Q_OS_WIN
bool oemIsUtf8() {
    return GetOEMCP() == CP_UTF8;
}
#endif

QStringConverter::Encoding encodingFor([[maybe_unused]] bool oemConvert) {
#ifdef Q_OS_WIN
    // A console set to UTF-8 (code page 65001) is decoded as UTF-8 by Qt's own decoder.
    if (oemConvert && oemIsUtf8())
        return QStringConverter::Utf8;
#endif
    return QStringConverter::System;
}
} // namespace

CommandOutputDecoder::CommandOutputDecoder(bool oemConvert)
    : m_decoder(encodingFor(oemConvert)) {
#ifdef Q_OS_WIN
    m_oem = oemConvert && !oemIsUtf8();
    m_oemCodePage = GetOEMCP();
#endif
}

QString CommandOutputDecoder::decode(QByteArrayView chunk) {
#ifdef Q_OS_WIN
    if (m_oem)
        return decodeOem(chunk);
#endif
    return m_decoder.decode(chunk);
}

QString CommandOutputDecoder::finish() {
#ifdef Q_OS_WIN
    if (m_oem) {
        const bool cut = !m_pendingOem.isEmpty();
        m_pendingOem.clear();
        return cut ? QString(QChar::ReplacementCharacter) : QString();
    }
#endif
    const bool cut = m_decoder.hasPendingBytes();
    m_decoder.resetState();
    return cut ? QString(QChar::ReplacementCharacter) : QString();
}

#ifdef Q_OS_WIN
// OEM code pages are single-byte or double-byte (lead byte + trail byte): a lead byte at the
// very end of a chunk waits for the next chunk.
QString CommandOutputDecoder::decodeOem(QByteArrayView chunk) {
    QByteArray bytes = m_pendingOem + chunk.toByteArray();
    m_pendingOem.clear();
    qsizetype complete = 0;
    while (complete < bytes.size()) {
        const bool lead = IsDBCSLeadByteEx(m_oemCodePage, BYTE(bytes.at(complete)));
        if (lead && complete + 1 >= bytes.size())
            break;
        complete += lead ? 2 : 1;
    }
    m_pendingOem = bytes.mid(complete);
    bytes.truncate(complete);
    if (bytes.isEmpty())
        return QString();
    const int wide = MultiByteToWideChar(m_oemCodePage, 0, bytes.constData(), int(bytes.size()), nullptr, 0);
    if (wide <= 0)
        return QString();
    QString text(wide, Qt::Uninitialized);
    MultiByteToWideChar(m_oemCodePage, 0, bytes.constData(), int(bytes.size()),
                        reinterpret_cast<wchar_t*>(text.data()), wide);
    return text;
}
#endif
