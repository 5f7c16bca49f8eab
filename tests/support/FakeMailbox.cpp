#include "support/FakeMailbox.h"

#include "mail/ModifiedUtf7.h"
#include "support/MessageGenerator.h"

namespace {

// "A001 EXAMINE "Inbox"" -> tag, verb in upper case, the rest.
struct CommandLine {
    QByteArray tag;
    QByteArray verb;
    QByteArray arguments;
};

CommandLine split(const QByteArray& line)
{
    CommandLine c;
    const qsizetype first = line.indexOf(' ');
    c.tag = first < 0 ? line : line.left(first);
    if (first < 0)
        return c;
    const QByteArray rest = line.mid(first + 1);
    const qsizetype second = rest.indexOf(' ');
    c.verb = (second < 0 ? rest : rest.left(second)).toUpper();
    c.arguments = second < 0 ? QByteArray() : rest.mid(second + 1);
    return c;
}

QByteArray unquoted(const QByteArray& text)
{
    if (text.size() >= 2 && text.startsWith('"') && text.endsWith('"'))
        return text.mid(1, text.size() - 2);
    return text;
}

} // namespace

void FakeMailbox::addFolder(const QString& name, int count, const QString& attributes)
{
    m_folders.insert(name, count);
    m_attributes.insert(name, attributes);
}

void FakeMailbox::setSlowFetch(int chunkSize, int intervalMs)
{
    m_chunkSize = chunkSize;
    m_intervalMs = intervalMs;
}

void FakeMailbox::setSlowAnswers(int chunkSize, int intervalMs)
{
    m_answerChunkSize = chunkSize;
    m_answerIntervalMs = intervalMs;
}

ScriptedImapServer::Reply FakeMailbox::slowly(ScriptedImapServer::Reply reply) const
{
    if (reply.chunkSize == 0) {
        reply.chunkSize = m_answerChunkSize;
        reply.intervalMs = m_answerIntervalMs;
    }
    return reply;
}

void FakeMailbox::serve(ScriptedImapServer& server)
{
    server.respondWith(
        slowly({"* OK [CAPABILITY IMAP4rev1 ID] Fake mailbox ready.\r\n"}),
        [this](int connection, const QByteArray& line) { return slowly(answer(connection, line)); });
}

int FakeMailbox::count(const QString& verb) const
{
    int result = 0;
    for (const QString& command : m_commands) {
        const QStringList words = command.split(QLatin1Char(' '));
        if (words.size() > 1 && words.at(1).toUpper() == verb)
            ++result;
    }
    return result;
}

ScriptedImapServer::Reply FakeMailbox::answer(int connection, const QByteArray& line)
{
    m_commands.append(QString::fromUtf8(line));
    if (onCommand)
        onCommand(QString::fromUtf8(line));
    if (answerInstead) {
        if (std::optional<ScriptedImapServer::Reply> reply =
                answerInstead(connection, QString::fromUtf8(line)))
            return *reply;
    }
    Connection& state = m_connections[connection];
    const CommandLine c = split(line);
    const auto tagged = [&](const QByteArray& text) { return c.tag + ' ' + text + "\r\n"; };

    if (c.verb == "ID")
        return {"* ID (\"name\" \"FakeMailbox\")\r\n" + tagged("OK ID completed.")};
    if (c.verb == "LOGIN") {
        state.authenticated = true;
        return {tagged("OK Logged in")};
    }
    if (c.verb == "LOGOUT") {
        m_connections.remove(connection);
        return {"* BYE Logging out\r\n" + tagged("OK Logout completed."), 0, 0, true};
    }
    if (!state.authenticated) {
        m_errors.append(QStringLiteral("before LOGIN: ") + QString::fromUtf8(line));
        return {tagged("BAD Not logged in.")};
    }
    if (c.verb == "LIST") {
        QByteArray list;
        for (const QString& folder : m_folders.keys()) {
            const QString attributes = m_attributes.value(folder);
            list += "* LIST (\\HasNoChildren" +
                    (attributes.isEmpty() ? QByteArray() : ' ' + attributes.toUtf8()) + ") \"/\" \"" +
                    (folder == QLatin1String("Inbox") ? QByteArray("INBOX") : ModifiedUtf7::encode(folder)) +
                    "\"\r\n";
        }
        return {list + tagged("OK List completed.")};
    }
    if (c.verb == "EXAMINE") {
        const QByteArray encoded = unquoted(c.arguments);
        const QString name = ModifiedUtf7::decode(encoded).value_or(QString::fromUtf8(encoded));
        state.selected.clear();
        if (!m_folders.contains(name))
            return {tagged("NO Mailbox doesn't exist: " + name.toUtf8())};
        state.selected = name;
        return {"* FLAGS (\\Seen)\r\n* " + QByteArray::number(m_folders.value(name)) +
                " EXISTS\r\n* 0 RECENT\r\n" + tagged("OK [READ-ONLY] Examine completed.")};
    }
    if (c.verb == "FETCH") {
        if (state.selected.isEmpty())
            return {tagged("BAD No mailbox selected.")};
        bool ok = false;
        const int n = c.arguments.left(c.arguments.indexOf(' ')).toInt(&ok);
        if (!ok || n < 1 || n > m_folders.value(state.selected))
            return {tagged("BAD Error in IMAP command FETCH: Invalid messageset")};
        QByteArray bytes = MessageGenerator::plain(n);
        QByteArray item = "BODY[]";
        // A partial fetch, BODY.PEEK[]<origin.length>: Dovecot names the item BODY[]<origin> and
        // sends what there is of the range, nothing when it starts past the end.
        const qsizetype partial = c.arguments.indexOf("BODY.PEEK[]<");
        if (partial >= 0) {
            const qsizetype open = partial + 11;
            const qsizetype close = c.arguments.indexOf('>', open);
            const QList<QByteArray> range = c.arguments.mid(open + 1, close - open - 1).split('.');
            bool originOk = false;
            bool lengthOk = false;
            const qsizetype origin = range.size() == 2 ? range.at(0).toLongLong(&originOk) : -1;
            const qsizetype length = range.size() == 2 ? range.at(1).toLongLong(&lengthOk) : -1;
            if (close < 0 || !originOk || !lengthOk || origin < 0 || length <= 0)
                return {tagged("BAD Error in IMAP command FETCH: Invalid partial")};
            bytes = bytes.mid(origin, length);
            item += '<' + QByteArray::number(origin) + '>';
        }
        const QByteArray data = "* " + QByteArray::number(n) +
                                " FETCH (INTERNALDATE \"07-Dec-2026 09:30:00 +0000\" " + item + " {" +
                                QByteArray::number(bytes.size()) + "}\r\n" + bytes + ")\r\n" +
                                tagged("OK Fetch completed.");
        return {data, m_chunkSize, m_intervalMs};
    }
    m_errors.append(QStringLiteral("unknown command: ") + QString::fromUtf8(line));
    return {tagged("BAD Error in IMAP command.")};
}
