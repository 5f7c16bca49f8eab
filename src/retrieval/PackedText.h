#pragma once

#include <QByteArray>
#include <QString>

// A text held in few bytes and given back unchanged: UTF-8, compressed with zstd when that
// makes it smaller (UTF-16 code units when the text holds an unpaired surrogate, which UTF-8
// cannot carry). For the large texts a mailbox holds until the export writes them.
class PackedText {
public:
    // Uncompressed: UTF-8 only, several times quicker, for texts held briefly.
    enum Compression { Compressed, Uncompressed };

    static QByteArray pack(const QString& text, Compression compression = Compressed); // "" packs to no bytes
    // Device I/O error (57) for bytes that pack() did not give (damaged on their way back).
    static QString unpack(const QByteArray& packed);
};
