#include "mail/ImapResponseReader.h"

ImapResponseReader::ImapResponseReader(const ImapResponse& response)
    : m_response(response)
{
}

char ImapResponseReader::peek() const
{
    if (m_line >= m_response.lines.size())
        return '\0';
    const QByteArray& line = m_response.lines[m_line];
    return m_pos < line.size() ? line[m_pos] : '\0';
}

bool ImapResponseReader::atLineEnd() const
{
    return m_line >= m_response.lines.size() || m_pos >= m_response.lines[m_line].size();
}

bool ImapResponseReader::atEnd() const { return atLineEnd() && m_line >= m_response.lines.size() - 1; }

bool ImapResponseReader::skipSpaces()
{
    bool any = false;
    while (!atLineEnd() && peek() == ' ') {
        ++m_pos;
        any = true;
    }
    return any;
}

qsizetype ImapResponseReader::atomEnd() const
{
    const QByteArray& line = m_response.lines[m_line];
    qsizetype pos = m_pos;
    int brackets = 0;
    while (pos < line.size()) {
        const char c = line[pos];
        if (c == '[') {
            ++brackets;
        } else if (c == ']') {
            if (brackets > 0)
                --brackets;
        } else if (brackets == 0 && (c == ' ' || c == '(' || c == ')' || c == '"' || c == '{')) {
            break;
        }
        ++pos;
    }
    return brackets > 0 ? -1 : pos;
}

QByteArray ImapResponseReader::readAtom()
{
    if (atLineEnd())
        return {};
    // An unclosed section is malformed: give nothing back rather than half a token.
    const qsizetype end = atomEnd();
    if (end < 0)
        return {};
    const qsizetype start = m_pos;
    m_pos = end;
    return m_response.lines[m_line].mid(start, end - start);
}

std::optional<QByteArray> ImapResponseReader::readQuoted()
{
    const QByteArray& line = m_response.lines[m_line];
    QByteArray out;
    qsizetype pos = m_pos + 1;  // past the opening quote
    while (pos < line.size()) {
        const char c = line[pos];
        if (c == '"') {
            m_pos = pos + 1;
            return out;
        }
        if (c == '\\') {
            ++pos;
            if (pos >= line.size())
                break;
        }
        out.append(line[pos]);
        ++pos;
    }
    return std::nullopt;  // no closing quote on this line
}

std::optional<QByteArray> ImapResponseReader::readLiteral()
{
    // A literal marker is only one when it closes the line: the framing put its data in
    // literals[m_line] and the response continues on the next line.
    const QByteArray& line = m_response.lines[m_line];
    const qsizetype close = line.indexOf('}', m_pos);
    if (close != line.size() - 1 || m_line >= m_response.literals.size())
        return std::nullopt;
    QByteArray digits = line.mid(m_pos + 1, close - m_pos - 1);
    if (digits.endsWith('+'))
        digits.chop(1);
    if (digits.isEmpty())
        return std::nullopt;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    const QByteArray& data = m_response.literals[m_line];
    if (digits.toLongLong() != data.size())
        return std::nullopt;
    ++m_line;
    m_pos = 0;
    return data;
}

std::optional<ImapValue> ImapResponseReader::readValue() { return readValue(0); }

std::optional<ImapValue> ImapResponseReader::readValue(int depth)
{
    if (depth > kMaxDepth || atLineEnd())
        return std::nullopt;
    ImapValue value;
    const char c = peek();
    if (c == '(') {
        ++m_pos;
        value.kind = ImapValue::Kind::List;
        for (;;) {
            skipSpaces();
            if (atLineEnd())
                return std::nullopt;  // unclosed list
            if (peek() == ')') {
                ++m_pos;
                return value;
            }
            std::optional<ImapValue> item = readValue(depth + 1);
            if (!item)
                return std::nullopt;
            value.items.append(std::move(*item));
        }
    }
    if (c == ')')
        return std::nullopt;
    if (c == '"') {
        std::optional<QByteArray> text = readQuoted();
        if (!text)
            return std::nullopt;
        value.kind = ImapValue::Kind::String;
        value.text = std::move(*text);
        return value;
    }
    if (c == '{') {
        std::optional<QByteArray> data = readLiteral();
        if (!data)
            return std::nullopt;
        value.kind = ImapValue::Kind::String;
        value.text = std::move(*data);
        return value;
    }
    QByteArray atom = readAtom();
    if (atom.isEmpty())
        return std::nullopt;
    if (atom.compare("NIL", Qt::CaseInsensitive) == 0) {
        value.kind = ImapValue::Kind::Nil;
        return value;
    }
    value.kind = ImapValue::Kind::Atom;
    value.text = std::move(atom);
    return value;
}

bool ImapResponseReader::enterList()
{
    if (atLineEnd() || peek() != '(')
        return false;
    ++m_pos;
    return true;
}

bool ImapResponseReader::leaveList()
{
    skipSpaces();
    if (atLineEnd() || peek() != ')')
        return false;
    ++m_pos;
    return true;
}

bool ImapResponseReader::skipValue() { return skipValue(0); }

bool ImapResponseReader::skipValue(int depth)
{
    if (depth > kMaxDepth || atLineEnd())
        return false;
    const char c = peek();
    if (c == '(') {
        ++m_pos;
        for (;;) {
            skipSpaces();
            if (atLineEnd())
                return false; // unclosed list
            if (peek() == ')') {
                ++m_pos;
                return true;
            }
            if (!skipValue(depth + 1))
                return false;
        }
    }
    if (c == ')')
        return false;
    if (c == '"') {
        const QByteArray& line = m_response.lines[m_line];
        for (qsizetype pos = m_pos + 1; pos < line.size(); ++pos) {
            if (line[pos] == '"') {
                m_pos = pos + 1;
                return true;
            }
            if (line[pos] == '\\')
                ++pos;
        }
        return false; // no closing quote on this line
    }
    if (c == '{')
        return readLiteral().has_value();
    const qsizetype end = atomEnd();
    if (end <= m_pos)
        return false;
    m_pos = end;
    return true;
}

QByteArray ImapResponseReader::readRestOfLine()
{
    if (atLineEnd())
        return {};
    const QByteArray& line = m_response.lines[m_line];
    QByteArray rest = line.mid(m_pos);
    m_pos = line.size();
    return rest;
}
