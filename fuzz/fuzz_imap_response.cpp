// What an IMAP server sends, as any bytes at all: framed into responses in chunks of every size,
// then read token by token the way the client reads greetings, status lines, FETCH and LIST data;
// every string met is also read as a modified UTF-7 mailbox name and as an INTERNALDATE.
#include "FuzzCheck.h"

#include "mail/ImapInternalDate.h"
#include "mail/ImapResponse.h"
#include "mail/ImapResponseParser.h"
#include "mail/ImapResponseHead.h"
#include "mail/ImapResponseReader.h"
#include "mail/ImapValue.h"
#include "mail/ModifiedUtf7.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QTimeZone>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>

namespace {

struct Limits {
    qsizetype line;
    qsizetype literal;
    qsizetype response;
};
constexpr Limits kDefaultLimits{ImapResponseParser::kDefaultMaxLineLength,
                                ImapResponseParser::kDefaultMaxLiteralSize,
                                ImapResponseParser::kDefaultMaxResponseSize};
// Small enough that short inputs reach every bound.
constexpr Limits kSmallLimits{40, 100, 300};

// Everything the framing gave, and where it stood at the end.
struct Framing {
    QList<ImapResponse> responses;
    bool failed = false;
    bool inLiteral = false;
    qsizetype literalSize = 0;
    qsizetype literalReceived = 0;
    bool midResponse = false;

    bool operator==(const Framing& other) const
    {
        if (responses.size() != other.responses.size())
            return false;
        for (qsizetype i = 0; i < responses.size(); ++i) {
            if (responses[i].lines != other.responses[i].lines ||
                responses[i].literals != other.responses[i].literals)
                return false;
        }
        return failed == other.failed && inLiteral == other.inLiteral && literalSize == other.literalSize &&
               literalReceived == other.literalReceived && midResponse == other.midResponse;
    }
};

// Feeds the stream in chunks whose sizes `nextChunk` picks, taking every complete response after
// each chunk as the client does.
Framing frame(const QByteArray& stream, const Limits& limits,
              const std::function<qsizetype(qsizetype)>& nextChunk)
{
    ImapResponseParser parser;
    parser.setLimits(limits.line, limits.literal, limits.response);
    Framing out;
    for (qsizetype pos = 0; pos < stream.size();) {
        const qsizetype n = qMax<qsizetype>(1, nextChunk(pos));
        parser.feed(stream.mid(pos, n));
        pos += n;
        while (std::optional<ImapResponse> response = parser.take())
            out.responses.append(std::move(*response));
        // The literal arriving now is never complete while it is still open.
        if (parser.inLiteral()) {
            FUZZ_CHECK(parser.literalReceived() >= 0 && parser.literalReceived() < parser.literalSize());
            FUZZ_CHECK(parser.literalSize() <= limits.literal);
        }
        if (parser.failed()) {
            FUZZ_CHECK(!parser.errorText().isEmpty());
            FUZZ_CHECK(!parser.inLiteral() && !parser.take());
        }
    }
    while (std::optional<ImapResponse> response = parser.take())
        out.responses.append(std::move(*response));
    out.failed = parser.failed();
    out.inLiteral = parser.inLiteral();
    out.literalSize = parser.inLiteral() ? parser.literalSize() : 0;
    out.literalReceived = parser.inLiteral() ? parser.literalReceived() : 0;
    out.midResponse = parser.midResponse();
    return out;
}

using ResponseHead = ImapResponseHead;

ResponseHead readHead(ImapResponseReader& reader) { return ImapResponseHead::read(reader); }

QByteArray twoDigits(int value)
{
    return QByteArray::number(value).rightJustified(2, '0');
}

// A string as a mailbox name: what decodes is valid text that encodes back to a form decoding to
// the same name; any text survives encoding and decoding unchanged.
void checkMailboxName(const QByteArray& text)
{
    if (const std::optional<QString> decoded = ModifiedUtf7::decode(text)) {
        FUZZ_CHECK(QStringView(*decoded).isValidUtf16());
        const QByteArray again = ModifiedUtf7::encode(*decoded);
        for (char c : again)
            FUZZ_CHECK(c >= 0x20 && c <= 0x7e);
        FUZZ_CHECK(ModifiedUtf7::decode(again) == decoded);
    }
    const QString asText = QString::fromUtf8(text);
    FUZZ_CHECK(ModifiedUtf7::decode(ModifiedUtf7::encode(asText)) == asText);
}

// A string as an INTERNALDATE: what is read is a real date and time that reads the same when
// written out again.
void checkInternalDate(const QByteArray& text)
{
    const QDateTime when = parseImapInternalDate(text);
    if (!when.isValid())
        return;
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int offset = when.offsetFromUtc();
    FUZZ_CHECK(offset > -100 * 3600 && offset < 100 * 3600 && offset % 60 == 0);
    const int absolute = offset < 0 ? -offset : offset;
    const QDate date = when.date();
    const QTime time = when.time();
    FUZZ_CHECK(date.year() >= 1 && date.year() <= 9999);
    const QByteArray written = twoDigits(date.day()) + '-' + kMonths[date.month() - 1] + '-' +
                               QByteArray::number(date.year()).rightJustified(4, '0') + ' ' +
                               twoDigits(time.hour()) + ':' + twoDigits(time.minute()) + ':' +
                               twoDigits(time.second()) + ' ' + (offset < 0 ? '-' : '+') +
                               twoDigits(absolute / 3600) + twoDigits(absolute / 60 % 60);
    const QDateTime again = parseImapInternalDate(written);
    FUZZ_CHECK(again == when && again.offsetFromUtc() == offset);
}

void checkValue(const ImapValue& value, int depth)
{
    FUZZ_CHECK(depth <= ImapResponseReader::kMaxDepth + 1);
    switch (value.kind) {
    case ImapValue::Kind::Atom:
        FUZZ_CHECK(!value.text.isEmpty());
        FUZZ_CHECK(value.text.compare("NIL", Qt::CaseInsensitive) != 0);
        FUZZ_CHECK(value.number() >= -1);
        checkInternalDate(value.text);
        checkMailboxName(value.text);
        break;
    case ImapValue::Kind::String:
        checkInternalDate(value.text);
        checkMailboxName(value.text);
        break;
    case ImapValue::Kind::Nil:
        FUZZ_CHECK(value.text.isEmpty() && value.items.isEmpty());
        break;
    case ImapValue::Kind::List:
        for (const ImapValue& item : value.items)
            checkValue(item, depth + 1);
        break;
    }
}

// The client's reading of FETCH data: pairs of item names and values.
void readFetch(ImapResponseReader& reader)
{
    const std::optional<ImapValue> items = reader.readValue();
    if (!items || !items->isList() || items->items.size() % 2 != 0)
        return;
    for (qsizetype i = 0; i + 1 < items->items.size(); i += 2) {
        const ImapValue& name = items->items[i];
        const ImapValue& value = items->items[i + 1];
        if (!name.isAtom())
            return;
        const QByteArray key = name.text.toUpper();
        if (key == "INTERNALDATE" && value.isString())
            checkInternalDate(value.text);
        else if (key == "UID")
            FUZZ_CHECK(value.number() >= -1);
    }
}

// The client's reading of LIST data: flags, delimiter, name.
void readList(ImapResponseReader& reader)
{
    const std::optional<ImapValue> flags = reader.readValue();
    reader.skipSpaces();
    const std::optional<ImapValue> delimiter = reader.readValue();
    reader.skipSpaces();
    const std::optional<ImapValue> name = reader.readValue();
    if (flags && flags->isList() && delimiter && (delimiter->isString() || delimiter->isNil()) && name &&
        name->isAString())
        checkMailboxName(name->text);
}

// Every token of the response, front to back, until the reader can go no further.
void readAllTokens(const ImapResponse& response)
{
    ImapResponseReader reader(response);
    // Each turn consumes at least one byte or stops: more turns than bytes means a read that
    // succeeded without moving.
    const qsizetype maxTurns = response.size() + response.lines.size() + 2;
    for (qsizetype turn = 0;; ++turn) {
        FUZZ_CHECK(turn <= maxTurns);
        reader.skipSpaces();
        if (reader.atLineEnd())
            break;
        if (const std::optional<ImapValue> value = reader.readValue()) {
            checkValue(*value, 0);
            continue;
        }
        // A value that could not be read may have taken the rest of the line with it.
        if (reader.atLineEnd())
            break;
        if (!reader.readAtom().isEmpty())
            continue;
        FUZZ_CHECK(!reader.readRestOfLine().isEmpty());
    }
}

void checkResponse(const ImapResponse& response, const Limits& limits)
{
    // Framing: one literal after every line but the last; lines hold no line feed.
    FUZZ_CHECK(!response.lines.isEmpty());
    FUZZ_CHECK(response.literals.size() == response.lines.size() - 1);
    qsizetype size = 0;
    for (const QByteArray& line : response.lines) {
        FUZZ_CHECK(!line.contains('\n'));
        FUZZ_CHECK(line.size() <= limits.line);
        size += line.size();
    }
    for (const QByteArray& literal : response.literals) {
        FUZZ_CHECK(literal.size() <= limits.literal);
        size += literal.size();
    }
    FUZZ_CHECK(size == response.size());
    FUZZ_CHECK(response.size() <= limits.response);

    // The raw form frames back into the same response.
    const QByteArray raw = response.raw();
    FUZZ_CHECK(raw.size() == response.size() + 2 * response.literals.size());
    ImapResponseParser again;
    again.setLimits(limits.line, limits.literal, limits.response);
    again.feed(raw + "\r\n");
    const std::optional<ImapResponse> reframed = again.take();
    FUZZ_CHECK(reframed && reframed->lines == response.lines && reframed->literals == response.literals);
    FUZZ_CHECK(!again.take() && !again.midResponse() && !again.failed());

    // The log line: bounded, one line of printable text.
    const QByteArray summary = response.summary(300);
    FUZZ_CHECK(summary.size() <= 303);
    for (char c : summary)
        FUZZ_CHECK(quint8(c) >= 0x20 && c != 0x7f);

    ImapResponseReader reader(response);
    const ResponseHead head = readHead(reader);
    // A plain first word is the tag whichever way it is read.
    const QByteArray tag = response.tag();
    if (std::none_of(tag.begin(), tag.end(), [](char c) { return QByteArrayView("[(\"{)").contains(c); }))
        FUZZ_CHECK(head.tag == tag);
    if (head.word == "FETCH")
        readFetch(reader);
    else if (head.word == "LIST" || head.word == "LSUB")
        readList(reader);
    else
        (void)reader.readRestOfLine();

    readAllTokens(response);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray stream(reinterpret_cast<const char*>(data), qsizetype(size));
    // Chunk sizes taken from the stream's own bytes: from single bytes to a few dozen.
    const auto fromContent = [&stream](qsizetype pos) {
        return qsizetype(1 + (quint8(stream[pos]) ^ quint8(pos * 37)) % 61);
    };
    for (const Limits& limits : {kDefaultLimits, kSmallLimits}) {
        const Framing whole = frame(stream, limits, [&stream](qsizetype) { return stream.size(); });
        // However the bytes arrive, the framing is the same.
        FUZZ_CHECK(frame(stream, limits, [](qsizetype) { return 1; }) == whole);
        FUZZ_CHECK(frame(stream, limits, fromContent) == whole);
        for (const ImapResponse& response : whole.responses)
            checkResponse(response, limits);
    }
    return 0;
}
