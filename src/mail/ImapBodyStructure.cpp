#include "mail/ImapBodyStructure.h"

namespace {

constexpr int kMaxDepth = 32;
constexpr qsizetype kMaxParts = 10000;

bool readText(const ImapValue& value, QByteArray& out)
{
    if (value.isNil()) {
        out.clear();
        return true;
    }
    if (!value.isString() && !value.isAtom())
        return false;
    out = value.text;
    return true;
}

// body-fld-param: NIL, or a list of name/value pairs. Only the charset is kept.
bool readParameters(const ImapValue& value, QByteArray& charset)
{
    if (value.isNil())
        return true;
    if (!value.isList() || value.items.size() % 2 != 0)
        return false;
    for (qsizetype i = 0; i + 1 < value.items.size(); i += 2) {
        QByteArray name;
        QByteArray text;
        if (!readText(value.items[i], name) || !readText(value.items[i + 1], text))
            return false;
        if (name.compare("charset", Qt::CaseInsensitive) == 0)
            charset = text;
    }
    return true;
}

// body-fld-dsp: NIL, or (type parameters).
bool readDisposition(const ImapValue& value, QByteArray& disposition)
{
    disposition.clear();
    if (value.isNil())
        return true;
    if (!value.isList() || value.items.size() != 2)
        return false;
    QByteArray ignored;
    if (!readText(value.items[0], disposition) || !readParameters(value.items[1], ignored))
        return false;
    disposition = disposition.toLower();
    return true;
}

bool readPart(const ImapValue& value, const QByteArray& section, int depth, qsizetype& count,
              ImapBodyStructure::Part& part)
{
    if (!value.isList() || value.items.isEmpty() || depth > kMaxDepth || ++count > kMaxParts)
        return false;
    const QList<ImapValue>& items = value.items;
    part.section = section;
    if (items[0].isList()) {
        // A multipart: its parts, its subtype, then extension data (parameters, disposition...).
        part.type = "multipart";
        qsizetype i = 0;
        for (; i < items.size() && items[i].isList(); ++i) {
            ImapBodyStructure::Part child;
            const QByteArray number = QByteArray::number(i + 1);
            if (!readPart(items[i], section.isEmpty() ? number : section + '.' + number, depth + 1, count,
                          child))
                return false;
            part.size += child.size;
            part.parts.append(std::move(child));
        }
        if (i >= items.size() || !readText(items[i], part.subtype) || part.subtype.isEmpty())
            return false;
        part.subtype = part.subtype.toLower();
        if (i + 1 < items.size()) {
            QByteArray ignored;
            if (!readParameters(items[i + 1], ignored))
                return false;
        }
        if (i + 2 < items.size()) {
            part.dispositionKnown = true;
            if (!readDisposition(items[i + 2], part.disposition))
                return false;
        }
        return true;
    }
    // A single part: type, subtype, parameters, id, description, encoding, size.
    if (items.size() < 7)
        return false;
    QByteArray ignored;
    if (!readText(items[0], part.type) || !readText(items[1], part.subtype) || part.type.isEmpty() ||
        part.subtype.isEmpty() || !readParameters(items[2], part.charset) || !readText(items[3], ignored) ||
        !readText(items[4], ignored) || !readText(items[5], part.encoding))
        return false;
    part.type = part.type.toLower();
    part.subtype = part.subtype.toLower();
    part.encoding = part.encoding.toLower();
    part.size = items[6].number();
    if (part.size < 0)
        return false;
    qsizetype next = 7;
    if (part.type == "text") {
        if (items.size() < 8 || items[7].number() < 0)
            return false; // the line count
        next = 8;
    } else if (part.type == "message" && (part.subtype == "rfc822" || part.subtype == "global")) {
        // Envelope, the attached message's structure and its line count; the attached message
        // is never looked into, so its structure is only checked for being a list.
        if (items.size() < 10 || !items[7].isList() || !items[8].isList() || items[9].number() < 0)
            return false;
        next = 10;
    }
    // Extension data: MD5, then the disposition.
    if (next + 1 < items.size()) {
        part.dispositionKnown = true;
        if (!readDisposition(items[next + 1], part.disposition))
            return false;
    }
    return true;
}

// Walks the parts the way the message parser visits them: a multipart's parts in order, the
// parts of nested multiparts in place, never the inside of an attached message.
bool findBodies(const ImapBodyStructure::Part& part, ImapBodyStructure::Bodies& bodies)
{
    if (part.isMultipart()) {
        for (const ImapBodyStructure::Part& child : part.parts) {
            if (!findBodies(child, bodies))
                return false;
            if (bodies.plain && bodies.html)
                return true;
        }
        return true;
    }
    if (part.type != "text")
        return true;
    if (!part.dispositionKnown)
        return false;
    if (part.disposition == "attachment")
        return true;
    if (!bodies.plain && part.subtype == "plain")
        bodies.plain = &part;
    else if (!bodies.html && part.subtype == "html") {
        bodies.html = &part;
        bodies.htmlFirst = !bodies.plain;
    }
    return true;
}

qint64 sectionBytes(const ImapBodyStructure::Part& part, const QList<QByteArray>& sections)
{
    if (sections.contains(part.section))
        return part.size;
    qint64 bytes = 0;
    for (const ImapBodyStructure::Part& child : part.parts)
        bytes += sectionBytes(child, sections);
    return bytes;
}

} // namespace

qint64 ImapBodyStructure::bytesOf(const QList<QByteArray>& sections) const
{
    return sectionBytes(m_root, sections);
}

std::optional<ImapBodyStructure> ImapBodyStructure::read(const ImapValue& value)
{
    ImapBodyStructure structure;
    qsizetype count = 0;
    if (!readPart(value, QByteArray(), 0, count, structure.m_root))
        return std::nullopt;
    if (!structure.m_root.isMultipart())
        structure.m_root.section = "1";
    return structure;
}

std::optional<ImapBodyStructure::Bodies> ImapBodyStructure::bodies() const
{
    Bodies bodies;
    if (!findBodies(m_root, bodies))
        return std::nullopt;
    return bodies;
}

std::optional<QList<QByteArray>> ImapBodyStructure::sectionsToFetch(qint64 messageSize,
                                                                    qint64 smallRest) const
{
    if (!m_root.isMultipart())
        return std::nullopt; // a single part is all body
    const std::optional<Bodies> found = bodies();
    if (!found)
        return std::nullopt;
    qint64 bodyBytes = 0;
    QList<QByteArray> sections;
    // In the order they stand in the message.
    const Part* first = found->htmlFirst ? found->html : found->plain;
    const Part* second = found->htmlFirst ? found->plain : found->html;
    for (const Part* part : {first, second}) {
        if (part) {
            sections.append(part->section);
            bodyBytes += part->size;
        }
    }
    const qint64 total = messageSize >= 0 ? messageSize : m_root.size;
    if (total - bodyBytes <= smallRest)
        return std::nullopt;
    return sections;
}
