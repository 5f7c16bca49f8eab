#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

// Turns the bytes a command prints into text, chunk by chunk. One decoder lives for the
// whole output, so a character whose bytes are split between two reads comes out whole.
//
// Encodings: on Windows, with oemConvert the OEM code page of the console, otherwise the
// ANSI code page; elsewhere the system's 8-bit locale encoding in both cases (there is no
// separate console code page).
class CommandOutputDecoder {
public:
    explicit CommandOutputDecoder(bool oemConvert);

    QString decode(QByteArrayView chunk);
    // The end of the output: a character cut off by the end of the output becomes U+FFFD.
    QString finish();

private:
    // QStringDecoder that can tell whether it holds the first bytes of an unfinished character.
    class StatefulDecoder : public QStringDecoder {
    public:
        using QStringDecoder::QStringDecoder;
        bool hasPendingBytes() const { return state.remainingChars > 0; }
    };

    StatefulDecoder m_decoder;
#ifdef Q_OS_WIN
    QString decodeOem(QByteArrayView chunk);
    bool m_oem = false;
    unsigned m_oemCodePage = 0;
    QByteArray m_pendingOem; // a double-byte lead byte waiting for its trail byte
#endif
};
