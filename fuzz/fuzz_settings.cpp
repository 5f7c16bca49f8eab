// The settings readings: the typed conversions on any text, and the settings file on disk with
// any content at all.
#include "FuzzCheck.h"

#include "frame/IniSettingsStore.h"
#include "frame/VbError.h"

#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <optional>

namespace {

// The typed readings either give a value of their type or raise a numbered error; nothing else
// may come out of them.
std::optional<int> readInt(const QString& text)
{
    try {
        const int value = SettingsStore::toInt(text);
        FUZZ_CHECK(value >= -32768 && value <= 32767);
        return value;
    } catch (const VbError& error) {
        FUZZ_CHECK(error.number() == 6 || error.number() == 13);
        return std::nullopt;
    }
}

std::optional<bool> readBool(const QString& text)
{
    try {
        return SettingsStore::toBool(text);
    } catch (const VbError& error) {
        FUZZ_CHECK(error.number() == 13);
        return std::nullopt;
    }
}

void checkConversions(const QString& text)
{
    const std::optional<int> asInt = readInt(text);
    const std::optional<bool> asBool = readBool(text);
    // A text that reads as a whole number reads as a truth value too; a non-zero number is true.
    if (asInt) {
        FUZZ_CHECK(asBool.has_value());
        if (*asInt != 0)
            FUZZ_CHECK(*asBool);
    }
    // Blanks around the text change nothing.
    const QString padded = QStringLiteral(" ") + text + QStringLiteral("\t");
    FUZZ_CHECK(readInt(padded) == asInt);
    FUZZ_CHECK(readBool(padded) == asBool);
}

const QString& scratchFolder()
{
    static QTemporaryDir dir;
    FUZZ_CHECK(dir.isValid());
    static const QString path = dir.path();
    return path;
}

void checkIniFile(const QByteArray& content)
{
    // A fresh file name each time: the settings machinery keeps recently read files cached.
    static quint64 counter = 0;
    const QString path = scratchFolder() + QStringLiteral("/Wenlowe-%1.ini").arg(++counter);
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly));
        FUZZ_CHECK(file.write(content) == content.size());
    }
    {
        IniSettingsStore store(path);
        for (const char* key : {"User", "Password", "StayConnected", "AutoConnect", "Option3", "Option5",
                                "Option6", "Option7", "Option9", "Combo1"}) {
            const std::optional<QString> value = store.value(QString::fromLatin1(key));
            if (value)
                checkConversions(*value);
            try {
                (void)store.readInt(QString::fromLatin1(key), 0);
            } catch (const VbError&) {
            }
            try {
                (void)store.readBool(QString::fromLatin1(key), false);
            } catch (const VbError&) {
            }
        }
    }
    QFile::remove(path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    checkConversions(QString::fromUtf8(bytes));
    checkConversions(QString::fromLatin1(bytes));
    checkIniFile(bytes);
    return 0;
}
