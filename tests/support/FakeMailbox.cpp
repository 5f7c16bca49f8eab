#include "support/FakeMailbox.h"

#include "mail/ModifiedUtf7.h"

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

FakeImapServer::Reply FakeMailbox::slowly(FakeImapServer::Reply reply) const
{
    if (reply.chunkSize == 0) {
        reply.chunkSize = m_answerChunkSize;
        reply.intervalMs = m_answerIntervalMs;
    }
    return reply;
}

void FakeMailbox::serve(FakeImapServer& server)
{
    server.respondWith(
        slowly({"* OK [CAPABILITY IMAP4rev1 ID] Fake mailbox ready.\r\n"}),
        [this](int connection, const QByteArray& line) { return slowly(answer(connection, line)); });
}

QString FakeMailbox::subject(int n)
{
    return QStringLiteral("Message %1").arg(n);
}

QString FakeMailbox::fromText(int n)
{
    return QStringLiteral("Sender %1 <sender%1@example.org>").arg(n);
}

QString FakeMailbox::plainBody(int n)
{
    // Every fifth body begins with "=" and every seventh is long enough to fill two cells.
    QString body = n % 5 == 0 ? QStringLiteral("=starts with an equals sign, message %1").arg(n)
                              : QStringLiteral("Body of message %1").arg(n);
    if (n % 7 == 0)
        body += QLatin1Char(' ') + QString(1500, QLatin1Char('x'));
    return body;
}

QByteArray FakeMailbox::message(int n)
{
    const int day = 1 + (n - 1) % 28;
    return QStringLiteral("From: %1\r\n"
                          "To: storm.tester@corvanel.test\r\n"
                          "Subject: %2\r\n"
                          "Date: %3 Dec 2026 09:30:00 +0000\r\n"
                          "Message-ID: <m%4@example.org>\r\n"
                          "MIME-Version: 1.0\r\n"
                          "Content-Type: text/plain; charset=utf-8\r\n"
                          "\r\n%5\r\n")
        .arg(fromText(n), subject(n))
        .arg(day)
        .arg(n)
        .arg(plainBody(n))
        .toUtf8();
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

FakeImapServer::Reply FakeMailbox::answer(int connection, const QByteArray& line)
{
    m_commands.append(QString::fromUtf8(line));
    if (onCommand)
        onCommand(QString::fromUtf8(line));
    if (answerInstead) {
        if (std::optional<FakeImapServer::Reply> reply = answerInstead(connection, QString::fromUtf8(line)))
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
            list += "* LIST (\\HasNoChildren" + (attributes.isEmpty() ? QByteArray() : ' ' + attributes.toUtf8()) +
                    ") \"/\" \"" +
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
        const QByteArray bytes = message(n);
        const QByteArray data =
            "* " + QByteArray::number(n) + " FETCH (INTERNALDATE \"07-Dec-2026 09:30:00 +0000\" BODY[] {" +
            QByteArray::number(bytes.size()) + "}\r\n" + bytes + ")\r\n" + tagged("OK Fetch completed.");
        return {data, m_chunkSize, m_intervalMs};
    }
    m_errors.append(QStringLiteral("unknown command: ") + QString::fromUtf8(line));
    return {tagged("BAD Error in IMAP command.")};
}
