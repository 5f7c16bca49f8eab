// The settings readings: the typed conversions on any text, and the settings file on disk with
// any content at all.
#include "FuzzCheck.h"

#include "frame/IniSettingsStore.h"
#include "frame/VbError.h"

#include <QDateTime>
#include <QFile>
#include <QGuiApplication>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
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
    // One file, rewritten for every input with a modification time of its own: the settings
    // machinery keeps the files it has read cached and reads one again only when its size or
    // time has changed. (A new name per input would grow that cache instead.)
    static const QString path = scratchFolder() + QStringLiteral("/Wenlowe.ini");
    static qint64 stamp = 1000000000;
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(file.write(content) == content.size());
        FUZZ_CHECK(file.setFileTime(QDateTime::fromSecsSinceEpoch(++stamp, Qt::UTC),
                                    QFileDevice::FileModificationTime));
    }
    IniSettingsStore store(path);
    for (const char* name : {"User", "Password", "StayConnected", "AutoConnect", "Option3", "Option5",
                             "Option6", "Option7", "Option9", "Combo1"}) {
        const QString key = QString::fromLatin1(name);
        const std::optional<QString> value = store.value(key);
        // The typed readings of a stored value are the conversions of its text; a missing value
        // gives the default.
        std::optional<int> asInt;
        std::optional<bool> asBool;
        try {
            asInt = store.readInt(key, 7);
        } catch (const VbError&) {
        }
        try {
            asBool = store.readBool(key, true);
        } catch (const VbError&) {
        }
        if (value) {
            checkConversions(*value);
            FUZZ_CHECK(asInt == readInt(*value) && asBool == readBool(*value));
        } else {
            FUZZ_CHECK(asInt == 7 && asBool == true);
        }
    }
}

} // namespace

// The program reads its settings with its application object in place, which makes the types of
// the user interface known to the settings reader too.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's warnings about values it cannot read are expected here by the thousand.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtFatalMsg)
            std::fprintf(stderr, "Qt: %s\n", qPrintable(message));
    });
    // Kept for the whole run; never destroyed, so that nothing depends on the order of exit.
    static QGuiApplication* const app = new QGuiApplication(*argc, *argv);
    (void)app;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    checkConversions(QString::fromUtf8(bytes));
    checkConversions(QString::fromLatin1(bytes));
    checkIniFile(bytes);
    return 0;
}
