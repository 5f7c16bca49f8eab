// The message object built from a fetched message's raw bytes, for any bytes at all.
#include "FuzzCheck.h"

#include "mail/MailMessage.h"

#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <cstdint>

namespace {

void checkText(const QString& text)
{
    FUZZ_CHECK(QStringView(text).isValidUtf16());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray raw(reinterpret_cast<const char*>(data), qsizetype(size));
    static const QDateTime internalDate(QDate(2024, 2, 29), QTime(23, 59, 58), QTimeZone(-7 * 3600));

    const MailMessage withDate = MailMessage::fromBytes(raw, internalDate);
    for (const QString* text : {&withDate.From, &withDate.FromName, &withDate.FromAddress, &withDate.Subject,
                                &withDate.PlainTextBody, &withDate.HtmlBody})
        checkText(*text);
    // There is always a date: the message's own, or the server's when the message has none.
    FUZZ_CHECK(withDate.Date.isValid());

    // Without the server's date, everything else reads the same.
    const MailMessage without = MailMessage::fromBytes(raw);
    FUZZ_CHECK(without.From == withDate.From && without.FromName == withDate.FromName &&
               without.FromAddress == withDate.FromAddress && without.Subject == withDate.Subject &&
               without.PlainTextBody == withDate.PlainTextBody && without.HtmlBody == withDate.HtmlBody);
    if (without.Date.isValid())
        FUZZ_CHECK(without.Date == withDate.Date &&
                   without.Date.offsetFromUtc() == withDate.Date.offsetFromUtc());
    else
        FUZZ_CHECK(withDate.Date == internalDate);
    return 0;
}
