// A BODYSTRUCTURE answer as any bytes at all: read into a part tree, the bodies a message object
// takes from it and the sections fetched instead of the whole message; and a message rebuilt
// from a header and parts (the input cut in three) reads its header like the header alone.
#include "FuzzCheck.h"

#include "mail/ImapBodyStructure.h"
#include "mail/ImapResponseHead.h"
#include "mail/ImapResponseParser.h"
#include "mail/ImapResponseReader.h"
#include "mail/MailMessage.h"
#include "mail/MessageFromParts.h"

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <optional>

namespace {

// Sections are the part's place: its parent's section, a dot, its number from 1.
void checkPart(const ImapBodyStructure::Part& part, const QByteArray& section, qint64& leaves)
{
    FUZZ_CHECK(part.section == section);
    FUZZ_CHECK(!part.type.isEmpty() && !part.subtype.isEmpty());
    FUZZ_CHECK(part.type == part.type.toLower() && part.subtype == part.subtype.toLower());
    FUZZ_CHECK(part.size >= 0);
    FUZZ_CHECK(part.isMultipart() != part.parts.isEmpty());
    FUZZ_CHECK(part.dispositionKnown || part.disposition.isEmpty());
    qint64 sum = 0;
    for (qsizetype i = 0; i < part.parts.size(); ++i) {
        const QByteArray number = QByteArray::number(i + 1);
        checkPart(part.parts[i], section.isEmpty() ? number : section + '.' + number, leaves);
        sum += part.parts[i].size;
    }
    if (part.isMultipart())
        FUZZ_CHECK(part.size == sum);
    else
        ++leaves;
}

void checkStructure(const ImapValue& value)
{
    const std::optional<ImapBodyStructure> structure = ImapBodyStructure::read(value);
    if (!structure)
        return;
    qint64 leaves = 0;
    const ImapBodyStructure::Part& root = structure->root();
    checkPart(root, root.isMultipart() ? QByteArray() : QByteArray("1"), leaves);
    const std::optional<ImapBodyStructure::Bodies> bodies = structure->bodies();
    if (bodies) {
        for (const ImapBodyStructure::Part* part : {bodies->plain, bodies->html}) {
            if (part)
                FUZZ_CHECK(part->type == "text" && part->dispositionKnown &&
                           part->disposition != "attachment");
        }
        if (bodies->plain)
            FUZZ_CHECK(bodies->plain->subtype == "plain");
        if (bodies->html)
            FUZZ_CHECK(bodies->html->subtype == "html");
    }
    for (qint64 size : {qint64(-1), qint64(0), root.size, root.size * 4 + 100000}) {
        const std::optional<QList<QByteArray>> sections = structure->sectionsToFetch(size, 16 * 1024);
        if (!sections)
            continue;
        // Only what the bodies are, never anything else, and never for a single part.
        FUZZ_CHECK(bodies && root.isMultipart() && sections->size() <= 2);
        FUZZ_CHECK(structure->bytesOf(*sections) <= root.size);
        for (const QByteArray& section : *sections)
            FUZZ_CHECK((bodies->plain && section == bodies->plain->section) ||
                       (bodies->html && section == bodies->html->section));
    }
}

void checkRebuilt(const QByteArray& input)
{
    const QList<QByteArray> pieces = input.split('\0');
    if (pieces.size() < 2)
        return;
    QList<MessageFromParts::Part> parts;
    for (qsizetype i = 1; i + 1 < pieces.size() && parts.size() < 4; i += 2)
        parts.append({pieces[i], pieces[i + 1]});
    const std::optional<QByteArray> rebuilt = MessageFromParts::assemble(pieces[0], parts);
    if (!rebuilt)
        return;
    FUZZ_CHECK(rebuilt->startsWith(pieces[0]) && rebuilt->endsWith("--\r\n"));
    if (!pieces[0].endsWith("\n\n") && !pieces[0].endsWith("\r\n\r\n"))
        return; // only a complete header, as servers send it, reads the same
    const MailMessage whole = MailMessage::fromBytes(*rebuilt);
    const MailMessage headerOnly = MailMessage::fromBytes(pieces[0]);
    FUZZ_CHECK(whole.Subject == headerOnly.Subject && whole.From == headerOnly.From);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    ImapResponseParser parser;
    parser.feed("* 1 FETCH (RFC822.SIZE 1 BODYSTRUCTURE " + input + ")\r\n");
    while (std::optional<ImapResponse> response = parser.take()) {
        ImapResponseReader reader(*response);
        if (ImapResponseHead::read(reader).word != "FETCH")
            continue;
        const std::optional<ImapValue> items = reader.readValue();
        if (!items || !items->isList())
            continue;
        for (const ImapValue& item : items->items)
            checkStructure(item);
    }
    checkRebuilt(input);
    return 0;
}
