#include "mail/ImapResponseParser.h"

namespace {

// The size announced by a literal marker "{n}" (or "{n+}") at the end of the line; -1 when the
// line does not end in one, -2 when the number is too long to be believed.
qint64 literalMarker(const QByteArray& line)
{
    if (!line.endsWith('}'))
        return -1;
    const qsizetype open = line.lastIndexOf('{');
    if (open < 0)
        return -1;
    QByteArray digits = line.mid(open + 1, line.size() - open - 2);
    if (digits.endsWith('+'))
        digits.chop(1);
    if (digits.isEmpty())
        return -1;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return -1;
    }
    if (digits.size() > 12)
        return -2;
    return digits.toLongLong();
}

}  // namespace

void ImapResponseParser::setLimits(qsizetype maxLineLength, qsizetype maxLiteralSize,
                                   qsizetype maxResponseSize)
{
    m_maxLine = maxLineLength;
    m_maxLiteral = maxLiteralSize;
    m_maxResponse = maxResponseSize;
}

void ImapResponseParser::feed(const QByteArray& bytes)
{
    if (!failed())
        m_buffer.append(bytes);
}

bool ImapResponseParser::midResponse() const { return !m_current.lines.isEmpty() || m_pos < m_buffer.size(); }

void ImapResponseParser::reset()
{
    m_buffer.clear();
    m_pos = 0;
    m_scanFrom = 0;
    m_current = {};
    m_currentSize = 0;
    m_literalSize = 0;
    m_literalRemaining = 0;
    m_error.clear();
}

void ImapResponseParser::fail(const QString& why)
{
    m_error = why;
    m_buffer.clear();
    m_pos = 0;
    m_scanFrom = 0;
    m_current = {};
    m_literalRemaining = 0;
}

void ImapResponseParser::compact()
{
    if (m_pos == m_buffer.size()) {
        m_buffer.clear();
        m_scanFrom = 0;
        m_pos = 0;
    } else if (m_pos > 64 * 1024 && m_pos > m_buffer.size() / 2) {
        m_buffer.remove(0, m_pos);
        m_scanFrom = qMax<qsizetype>(0, m_scanFrom - m_pos);
        m_pos = 0;
    }
}

std::optional<ImapResponse> ImapResponseParser::take()
{
    while (!failed()) {
        if (m_literalRemaining > 0) {
            const qsizetype available = m_buffer.size() - m_pos;
            const qsizetype n = qMin(available, m_literalRemaining);
            QByteArray& literal = m_current.literals.last();
            // Grow with what has arrived rather than trusting the announced size up front.
            if (literal.capacity() < literal.size() + n)
                literal.reserve(qMin(m_literalSize, qMax(literal.size() + n, 2 * literal.size())));
            literal.append(m_buffer.constData() + m_pos, n);
            m_pos += n;
            m_literalRemaining -= n;
            compact();
            if (m_literalRemaining > 0)
                return std::nullopt;
            m_scanFrom = m_pos;
            continue;
        }

        const qsizetype newline = m_buffer.indexOf('\n', qMax(m_pos, m_scanFrom));
        if (newline < 0) {
            // A carriage return at the very end may be the first half of the line end.
            qsizetype pending = m_buffer.size() - m_pos;
            if (pending > 0 && m_buffer.endsWith('\r'))
                --pending;
            if (pending > m_maxLine) {
                fail(QStringLiteral("A response line grew longer than %1 bytes without ending.")
                         .arg(m_maxLine));
                return std::nullopt;
            }
            m_scanFrom = m_buffer.size();
            compact();
            return std::nullopt;
        }
        qsizetype lineEnd = newline;
        // Read through constData: the buffer may share its bytes with the chunk it was fed, and a
        // non-const access would copy all of them.
        if (lineEnd > m_pos && m_buffer.constData()[lineEnd - 1] == '\r')
            --lineEnd;
        if (lineEnd - m_pos > m_maxLine) {
            fail(QStringLiteral("A response line was longer than %1 bytes.").arg(m_maxLine));
            return std::nullopt;
        }
        QByteArray line = m_buffer.mid(m_pos, lineEnd - m_pos);
        m_pos = newline + 1;
        m_scanFrom = m_pos;
        m_currentSize += line.size();
        if (m_currentSize > m_maxResponse) {
            fail(QStringLiteral("A response was larger than %1 bytes.").arg(m_maxResponse));
            return std::nullopt;
        }

        const qint64 literal = literalMarker(line);
        m_current.lines.append(std::move(line));
        if (literal == -2 || literal > m_maxLiteral) {
            const QByteArray& last = m_current.lines.last();
            const qsizetype open = last.lastIndexOf('{');
            fail(QStringLiteral("The server announced a literal of %1 bytes, more than the %2 accepted.")
                     .arg(QString::fromLatin1(last.mid(open + 1, last.size() - open - 2)))
                     .arg(m_maxLiteral));
            return std::nullopt;
        }
        if (literal >= 0) {
            m_currentSize += literal;
            if (m_currentSize > m_maxResponse) {
                fail(QStringLiteral("A response was larger than %1 bytes.").arg(m_maxResponse));
                return std::nullopt;
            }
            m_current.literals.append(QByteArray());
            m_literalSize = literal;
            m_literalRemaining = literal;
            continue;  // a literal of 0 bytes is complete at once: the loop moves on
        }

        ImapResponse done = std::move(m_current);
        m_current = {};
        m_currentSize = 0;
        m_literalSize = 0;
        compact();
        return done;
    }
    return std::nullopt;
}
