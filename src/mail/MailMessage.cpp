#include "mail/MailMessage.h"

#include "mail/HtmlText.h"

#include <QHash>
#include <QList>

// The project builds with QT_NO_KEYWORDS, so glib's struct member "signals" does not clash
// with Qt's macro and both headers may meet here.
#include <gmime/gmime.h>

#include <cstring>
#include <memory>
#include <optional>

namespace {

void initGMime()
{
    // Everything runs on the user-interface thread; a function-local static is enough.
    static const bool done = [] {
        g_mime_init();
        return true;
    }();
    (void)done;
}

// Owners for the glib objects and strings used below, so that every path frees them.
struct GObjectUnref {
    void operator()(gpointer object) const
    {
        if (object)
            g_object_unref(object);
    }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GFree {
    void operator()(gpointer memory) const { g_free(memory); }
};
using GCharPtr = std::unique_ptr<char, GFree>;

QString fromUtf8(const char* text) { return text ? QString::fromUtf8(text) : QString(); }

// Windows-1252 for bytes 0x80..0x9F; the five unassigned positions keep their Latin-1 value.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Whether any byte is in 0x80..0x9F, eight bytes at a time: a byte is there exactly when its
// top three bits are 100.
bool hasC1Byte(const QByteArray& bytes)
{
    const char* data = bytes.constData();
    const qsizetype size = bytes.size();
    constexpr quint64 kTop3 = 0xE0E0E0E0E0E0E0E0ull;
    constexpr quint64 kHigh = 0x8080808080808080ull;
    constexpr quint64 kLow7 = 0x7F7F7F7F7F7F7F7Full;
    qsizetype i = 0;
    for (; i + 8 <= size; i += 8) {
        quint64 word;
        std::memcpy(&word, data + i, sizeof word);
        // Zero exactly in the bytes whose top three bits are 100; a byte is zero when adding
        // 0x7F to its low seven bits leaves its high bit clear and its own high bit is clear.
        const quint64 x = (word & kTop3) ^ kHigh;
        if (~(((x & kLow7) + kLow7) | x | kLow7))
            return true;
    }
    for (; i < size; ++i)
        if (uchar(data[i]) - 0x80u < 0x20u)
            return true;
    return false;
}

QString fromWindows1252(const QByteArray& bytes)
{
    // Latin-1 in one pass, then the few positions where Windows-1252 differs. Most text has no
    // byte there at all: one branch-free pass over the bytes says so, and the text stays as is.
    QString text = QString::fromLatin1(bytes);
    if (!hasC1Byte(bytes))
        return text;
    char16_t* data = reinterpret_cast<char16_t*>(text.data());
    for (qsizetype i = 0, n = text.size(); i < n; ++i)
        if (data[i] >= 0x80 && data[i] < 0xA0)
            data[i] = kCp1252High[data[i] - 0x80];
    return text;
}

// Text whose charset is not declared (or cannot be converted): UTF-8 when the bytes are valid
// UTF-8, otherwise the Western code page that undeclared mail nearly always uses.
QString fromUndeclared(const QByteArray& bytes)
{
    if (g_utf8_validate(bytes.constData(), bytes.size(), nullptr))
        return QString::fromUtf8(bytes);
    return fromWindows1252(bytes);
}

// Charsets read as Windows-1252: its superset relation to Latin-1 and ASCII makes the result
// the same for correct mail and right for the many mailers that mislabel it.
bool isWesternLabel(const char* charset)
{
    static const char* const labels[] = {"us-ascii", "ascii", "iso-8859-1", "iso8859-1", "iso_8859-1",
                                         "latin1", "l1", "windows-1252", "cp1252"};
    for (const char* label : labels)
        if (g_ascii_strcasecmp(charset, label) == 0)
            return true;
    return false;
}

QByteArray streamBytes(GMimeStream* memStream)
{
    GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(memStream));
    if (!array || array->len == 0)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char*>(array->data), qsizetype(array->len));
}

// All of a stream's bytes from its start.
QByteArray readStream(GMimeStream* stream)
{
    if (g_mime_stream_reset(stream) == -1)
        return QByteArray();
    QByteArray bytes;
    const gint64 length = g_mime_stream_length(stream);
    if (length > 0)
        bytes.reserve(qsizetype(length));
    char chunk[4096];
    for (;;) {
        const ssize_t n = g_mime_stream_read(stream, chunk, sizeof chunk);
        if (n <= 0)
            break;
        bytes.append(chunk, qsizetype(n));
    }
    return bytes;
}

// The part's content with its transfer encoding undone, as bytes.
QByteArray decodedContent(GMimePart* part)
{
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content)
        return QByteArray();
    switch (g_mime_data_wrapper_get_encoding(content)) {
    case GMIME_CONTENT_ENCODING_BASE64:
    case GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE:
    case GMIME_CONTENT_ENCODING_UUENCODE:
        break;
    default:
        // Nothing to undo: the content's bytes as they are in the message, read from it without
        // the filter and output streams a copy through the wrapper makes.
        if (GMimeStream* stream = g_mime_data_wrapper_get_stream(content))
            return readStream(stream);
        return QByteArray();
    }
    GObjectPtr<GMimeStream> out(g_mime_stream_mem_new());
    if (g_mime_data_wrapper_write_to_stream(content, out.get()) < 0)
        return QByteArray();
    return streamBytes(out.get());
}

// The bytes converted from the given charset to UTF-8 by GMime's converter; nullopt when
// GMime knows no converter for the charset.
std::optional<QString> convertCharset(const QByteArray& bytes, const char* charset)
{
    GObjectPtr<GMimeFilter> filter(g_mime_filter_charset_new(charset, "UTF-8"));
    if (!filter)
        return std::nullopt;
    GObjectPtr<GMimeStream> out(g_mime_stream_mem_new());
    GObjectPtr<GMimeStream> filtered(g_mime_stream_filter_new(out.get()));
    g_mime_stream_filter_add(GMIME_STREAM_FILTER(filtered.get()), filter.get());
    if (!bytes.isEmpty())
        g_mime_stream_write(filtered.get(), bytes.constData(), size_t(bytes.size()));
    g_mime_stream_flush(filtered.get());
    return QString::fromUtf8(streamBytes(out.get()));
}

QString partText(GMimePart* part)
{
    const QByteArray bytes = decodedContent(part);
    const char* charset = g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), "charset");
    if (!charset || !*charset || g_ascii_strcasecmp(charset, "utf-8") == 0
        || g_ascii_strcasecmp(charset, "utf8") == 0)
        return fromUndeclared(bytes);
    if (isWesternLabel(charset))
        return fromWindows1252(bytes);
    if (const std::optional<QString> converted = convertCharset(bytes, charset))
        return *converted;
    return fromUndeclared(bytes);
}

struct BodySearch {
    GMimePart* plain = nullptr;
    GMimePart* html = nullptr;
};

void visitPart(GMimeObject*, GMimeObject* part, gpointer data)
{
    auto* search = static_cast<BodySearch*>(data);
    if (!GMIME_IS_TEXT_PART(part) || g_mime_part_is_attachment(GMIME_PART(part)))
        return;
    GMimeContentType* type = g_mime_object_get_content_type(part);
    if (!type)
        return;
    if (!search->plain && g_mime_content_type_is_type(type, "text", "plain"))
        search->plain = GMIME_PART(part);
    else if (!search->html && g_mime_content_type_is_type(type, "text", "html"))
        search->html = GMIME_PART(part);
}

// The first mailbox of an address list, looking inside groups.
InternetAddress* firstMailbox(InternetAddressList* list)
{
    if (!list)
        return nullptr;
    const int count = internet_address_list_length(list);
    for (int i = 0; i < count; ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_MAILBOX(address))
            return address;
        if (INTERNET_ADDRESS_IS_GROUP(address)) {
            InternetAddressGroup* group = INTERNET_ADDRESS_GROUP(address);
            if (InternetAddress* inner = firstMailbox(internet_address_group_get_members(group)))
                return inner;
        }
    }
    return nullptr;
}

struct Sender {
    QString from;
    QString name;
    QString address;
};

// The From fields for the raw values of a message's From headers, as GMime reads them: every
// mailbox in order as display text, and the first mailbox's name and address.
Sender readSender(const QList<const char*>& rawValues)
{
    Sender sender;
    GObjectPtr<InternetAddressList> from(internet_address_list_new());
    for (const char* value : rawValues) {
        if (GObjectPtr<InternetAddressList> list{internet_address_list_parse(nullptr, value)})
            internet_address_list_append(from.get(), list.get());
    }
    sender.from = fromUtf8(GCharPtr(internet_address_list_to_string(from.get(), nullptr, FALSE)).get());
    if (InternetAddress* mailbox = firstMailbox(from.get())) {
        sender.name = fromUtf8(internet_address_get_name(mailbox));
        sender.address = fromUtf8(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(mailbox)));
    }
    return sender;
}

// The From fields of the senders met lately, by their headers' raw values. A folder holds far
// more messages than senders (newsletters, colleagues, the same few friends), and reading the
// addresses (address objects, international domain names) is a tenth of reading a message.
// The fields depend on nothing but the raw values, so a kept one is exactly what reading gives.
const Sender& senderFor(const QList<const char*>& rawValues)
{
    static QHash<QByteArray, Sender> kept;
    QByteArray key;
    for (const char* value : rawValues) {
        key += value;
        key += '\0'; // raw values are C strings: no value holds the separator
    }
    if (const auto found = kept.constFind(key); found != kept.cend())
        return *found;
    if (kept.size() >= 4096)
        kept.clear();
    return *kept.insert(key, readSender(rawValues));
}

QDateTime toQDateTime(GDateTime* value)
{
    const qint64 msecs = g_date_time_to_unix(value) * 1000 + g_date_time_get_microsecond(value) / 1000;
    const int offset = int(g_date_time_get_utc_offset(value) / G_TIME_SPAN_SECOND);
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::OffsetFromUTC, offset);
}

} // namespace

MailMessage MailMessage::fromBytes(const QByteArray& raw, const QDateTime& internalDate)
{
    initGMime();
    MailMessage result;
    result.Date = internalDate;

    // The memory stream copies the bytes; an empty buffer still needs a valid pointer.
    static const char empty[1] = {0};
    GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(
        raw.isEmpty() ? empty : raw.constData(), size_t(raw.size())));
    GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    // The message is read as its top-level part with the header block: what a row needs of the
    // headers is taken from them below, as a message object would take it, without the six
    // address lists and the other header objects a message object builds.
    GObjectPtr<GMimeObject> top(g_mime_parser_construct_part(parser.get(), nullptr));
    if (!top)
        return result;

    QList<const char*> fromValues;
    const char* subject = nullptr;
    const char* date = nullptr;
    GMimeHeaderList* headers = g_mime_object_get_header_list(top.get());
    for (int i = 0, n = g_mime_header_list_get_count(headers); i < n; ++i) {
        GMimeHeader* header = g_mime_header_list_get_header_at(headers, i);
        const char* name = g_mime_header_get_name(header);
        if (g_ascii_strcasecmp(name, "From") == 0) {
            // Every From header's mailboxes, in order.
            if (const char* value = g_mime_header_get_raw_value(header))
                fromValues.append(value);
        } else if (g_ascii_strcasecmp(name, "Subject") == 0) {
            subject = g_mime_header_get_value(header); // the last one counts
        } else if (g_ascii_strcasecmp(name, "Date") == 0) {
            if (const char* value = g_mime_header_get_value(header))
                date = value;
        }
    }
    const Sender& sender = senderFor(fromValues);
    result.From = sender.from;
    result.FromName = sender.name;
    result.FromAddress = sender.address;
    result.Subject = fromUtf8(subject);
    if (date) {
        if (GDateTime* when = g_mime_utils_header_decode_date(date)) {
            result.Date = toQDateTime(when);
            g_date_time_unref(when);
        }
    }

    BodySearch search;
    visitPart(nullptr, top.get(), &search);
    if (GMIME_IS_MULTIPART(top.get()))
        g_mime_multipart_foreach(GMIME_MULTIPART(top.get()), visitPart, &search);
    if (search.plain)
        result.PlainTextBody = partText(search.plain);
    if (search.html)
        result.HtmlBody = partText(search.html);
    // Mail with only an HTML part gets the text a reader of it sees as its plain-text body.
    if (!search.plain && search.html)
        result.PlainTextBody = HtmlText::fromHtml(result.HtmlBody);
    return result;
}
