// How values are written for the server: modified UTF-7 mailbox names and quoted strings; which
// mailbox of a listing stands for one of the window's folders.
#include "mail/ImapQuoting.h"
#include "mail/MailboxResolver.h"
#include "mail/ModifiedUtf7.h"

#include <QTest>

class TestImapEncoding : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void knownNames_data();
    void knownNames();
    void roundTrips();
    void refusesBadInput_data();
    void refusesBadInput();

    void quotingForms();
    void quotedStrings();

    void folderByRole_data();
    void folderByRole();
};

Q_DECLARE_METATYPE(std::vector<MailboxEntry>)

void TestImapEncoding::knownNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("encoded");
    QTest::newRow("ASCII") << QStringLiteral("Sent Items") << QByteArray("Sent Items");
    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("ampersand") << QStringLiteral("R&D") << QByteArray("R&-D");
    QTest::newRow("umlaut") << QStringLiteral("Entwürfe") << QByteArray("Entw&APw-rfe");
    QTest::newRow("RFC 3501 example")
        << QStringLiteral("~peter/mail/台北/日本語") << QByteArray("~peter/mail/&U,BTFw-/&ZeVnLIqe-");
    QTest::newRow("run at the end") << QStringLiteral("Papierkorb ✓") << QByteArray("Papierkorb &JxM-");
    QTest::newRow("control characters") << QStringLiteral("a\tb\r\n") << QByteArray("a&AAk-b&AA0ACg-");
    QTest::newRow("surrogate pair") << QStringLiteral("Mail 📧") << QByteArray("Mail &2D3c5w-");
}

void TestImapEncoding::knownNames()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, encoded);
    QCOMPARE(ModifiedUtf7::encode(name), encoded);
    const std::optional<QString> decoded = ModifiedUtf7::decode(encoded);
    QVERIFY(decoded.has_value());
    QCOMPARE(*decoded, name);
}

void TestImapEncoding::roundTrips()
{
    // Every run length (base64 padding cases) and mixtures with ASCII and "&".
    QString name;
    for (int i = 0; i < 40; ++i) {
        name.append(QChar(char16_t(0x00e0 + i)));
        if (i % 7 == 0)
            name.append(QStringLiteral("&x/"));
        const QByteArray encoded = ModifiedUtf7::encode(name);
        for (char c : encoded)
            QVERIFY(c >= 0x20 && c <= 0x7e);
        QCOMPARE(ModifiedUtf7::decode(encoded).value_or(QStringLiteral("<failed>")), name);
    }
}

void TestImapEncoding::refusesBadInput_data()
{
    QTest::addColumn<QByteArray>("encoded");
    QTest::newRow("unterminated run") << QByteArray("&U,BTFw");
    QTest::newRow("lone ampersand at end") << QByteArray("abc&");
    QTest::newRow("character outside the alphabet") << QByteArray("&U/BTFw-");
    QTest::newRow("run too short for a character") << QByteArray("&AA-");
    QTest::newRow("odd number of bytes") << QByteArray("&AOkA-");
    QTest::newRow("non-zero padding bits") << QByteArray("&APx-");
    QTest::newRow("printable ASCII hidden in a run") << QByteArray("&AGE-");
    QTest::newRow("lone high surrogate") << QByteArray("&2D0-");
    QTest::newRow("lone low surrogate") << QByteArray("&3Oc-");
    QTest::newRow("8-bit byte") << QByteArray("Caf\xc3\xa9");
    QTest::newRow("control byte") << QByteArray("a\tb");
}

void TestImapEncoding::refusesBadInput()
{
    QFETCH(QByteArray, encoded);
    QVERIFY(!ModifiedUtf7::decode(encoded).has_value());
}

void TestImapEncoding::quotingForms()
{
    QCOMPARE(ImapQuoting::formFor("plain user@example.com"), ImapQuoting::Form::Quoted);
    QCOMPARE(ImapQuoting::formFor(""), ImapQuoting::Form::Quoted);
    QCOMPARE(ImapQuoting::formFor("tab\there \"and\" back\\slash"), ImapQuoting::Form::Quoted);
    QCOMPARE(ImapQuoting::formFor(QStringLiteral("pässwort").toUtf8()), ImapQuoting::Form::Literal);
    QCOMPARE(ImapQuoting::formFor("line\r\nbreak"), ImapQuoting::Form::Impossible);
    QCOMPARE(ImapQuoting::formFor("lf\nonly"), ImapQuoting::Form::Impossible);
    QCOMPARE(ImapQuoting::formFor(QByteArray("nul\0x", 5)), ImapQuoting::Form::Impossible);
    QCOMPARE(ImapQuoting::formFor(QStringLiteral("é\n").toUtf8()), ImapQuoting::Form::Impossible);
}

void TestImapEncoding::quotedStrings()
{
    QCOMPARE(ImapQuoting::quoted(""), QByteArray("\"\""));
    QCOMPARE(ImapQuoting::quoted("a b"), QByteArray("\"a b\""));
    QCOMPARE(ImapQuoting::quoted("say \"hi\" \\o/"), QByteArray("\"say \\\"hi\\\" \\\\o/\""));
}

namespace {

// Mailboxes from (attributes separated by spaces, decoded name) pairs, all with one delimiter.
std::vector<MailboxEntry> listing(std::initializer_list<std::pair<const char*, const char*>> rows,
                                  const QString& delimiter = QStringLiteral("/"))
{
    std::vector<MailboxEntry> entries;
    for (const auto& [attributes, name] : rows)
        entries.push_back({QString::fromUtf8(name), delimiter,
                           QString::fromLatin1(attributes).split(QLatin1Char(' '), Qt::SkipEmptyParts)});
    return entries;
}

} // namespace

void TestImapEncoding::folderByRole_data()
{
    QTest::addColumn<std::vector<MailboxEntry>>("mailboxes");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("selected"); // empty: none qualifies

    const auto outlook = listing({{"\\HasNoChildren", "Archive"},
                                  {"\\HasNoChildren \\Trash", "Deleted"},
                                  {"\\HasNoChildren \\Drafts", "Drafts"},
                                  {"\\Marked \\HasNoChildren", "Inbox"},
                                  {"\\HasNoChildren \\Junk", "Junk"},
                                  {"\\HasNoChildren \\Sent", "Sent"}});
    QTest::newRow("Outlook.com Sent") << outlook << "Sent"
                                      << "Sent";
    QTest::newRow("Outlook.com Inbox") << outlook << "Inbox"
                                       << "Inbox";

    const auto m365 = listing({{"\\HasNoChildren", "INBOX"},
                               {"\\HasNoChildren \\Trash", "Deleted Items"},
                               {"\\HasNoChildren \\Drafts", "Drafts"},
                               {"\\HasNoChildren \\Junk", "Junk Email"},
                               {"\\HasNoChildren \\Sent", "Sent Items"}});
    QTest::newRow("Microsoft 365 Sent") << m365 << "Sent"
                                        << "Sent Items";
    QTest::newRow("Microsoft 365 Deleted") << m365 << "Deleted"
                                           << "Deleted Items";
    QTest::newRow("Microsoft 365 Junk") << m365 << "Junk"
                                        << "Junk Email";
    // INBOX in any case: opened by the folder's own name, as before.
    QTest::newRow("Microsoft 365 Inbox in another case") << m365 << "Inbox"
                                                         << "Inbox";

    const auto gmail = listing({{"\\HasNoChildren", "INBOX"},
                                {"\\HasChildren \\Noselect", "[Gmail]"},
                                {"\\All \\HasNoChildren", "[Gmail]/All Mail"},
                                {"\\Drafts \\HasNoChildren", "[Gmail]/Drafts"},
                                {"\\HasNoChildren \\Sent", "[Gmail]/Sent Mail"},
                                {"\\HasNoChildren \\Junk", "[Gmail]/Spam"},
                                {"\\HasNoChildren \\Trash", "[Gmail]/Trash"}});
    QTest::newRow("Gmail Sent") << gmail << "Sent"
                                << "[Gmail]/Sent Mail";
    QTest::newRow("Gmail Junk") << gmail << "Junk"
                                << "[Gmail]/Spam";
    QTest::newRow("Gmail Deleted") << gmail << "Deleted"
                                   << "[Gmail]/Trash";
    QTest::newRow("Gmail Drafts") << gmail << "Drafts"
                                  << "[Gmail]/Drafts";

    // Without SPECIAL-USE: the well-known names, below a parent too, in any case.
    const auto plain = listing({{"", "INBOX"},
                                {"", "INBOX.Sent Messages"},
                                {"", "INBOX.spam"},
                                {"", "INBOX.Drafts"},
                                {"", "INBOX.Junk E-mail"},
                                {"", "Deleted Messages"}},
                               QStringLiteral("."));
    QTest::newRow("names Sent") << plain << "Sent"
                                << "INBOX.Sent Messages";
    QTest::newRow("names Drafts") << plain << "Drafts"
                                  << "INBOX.Drafts";
    // "Junk E-mail" is a closer name than "Spam" even though listed later.
    QTest::newRow("names Junk") << plain << "Junk"
                                << "INBOX.Junk E-mail";
    QTest::newRow("names Deleted") << plain << "Deleted"
                                   << "Deleted Messages";

    // An exact name wins over a special use elsewhere; a special use wins over a name.
    const auto both = listing({{"\\Sent", "Sent Items"}, {"", "Sent"}, {"", "Trash"}, {"\\Trash", "Bin"}});
    QTest::newRow("exact beside special use") << both << "Sent"
                                              << "Sent";
    QTest::newRow("special use before a name") << both << "Deleted"
                                               << "Bin";

    // Decoded names: "Gesendete Objekte", "Gelöschte Elemente" (Entw&APw-rfe on the wire).
    const auto german = listing({{"", "INBOX"},
                                 {"\\Sent", "Gesendete Objekte"},
                                 {"\\Trash", "Gelöschte Elemente"},
                                 {"\\Drafts", "Entwürfe"},
                                 {"", "Junk-E-Mail"}});
    QTest::newRow("UTF-7 Deleted") << german << "Deleted"
                                   << "Gelöschte Elemente";
    QTest::newRow("UTF-7 Drafts") << german << "Drafts"
                                  << "Entwürfe";
    // Nothing says which one is junk mail.
    QTest::newRow("no match") << german << "Junk"
                              << "";

    // Places that cannot be opened are passed over.
    const auto shadows = listing({{"\\Noselect", "Sent"},
                                  {"\\NonExistent \\Sent", "Gone"},
                                  {"\\Sent", "Sent Items"},
                                  {"\\Noselect", "Spam"}});
    QTest::newRow("not selectable") << shadows << "Sent"
                                    << "Sent Items";
    QTest::newRow("not selectable, nothing else") << shadows << "Junk"
                                                  << "";
    // A name merely ending like a folder's, without a delimiter before it, is another mailbox.
    QTest::newRow("no delimiter before")
        << listing({{"", "INBOX"}, {"", "UnSent"}, {"", "Mytrash"}}) << "Sent"
        << "";
    QTest::newRow("inbox is only INBOX") << listing({{"", "Archive/Inbox"}}) << "Inbox"
                                         << "";
    QTest::newRow("empty listing") << std::vector<MailboxEntry>() << "Sent"
                                   << "";
}

void TestImapEncoding::folderByRole()
{
    QFETCH(std::vector<MailboxEntry>, mailboxes);
    QFETCH(QString, folder);
    QFETCH(QString, selected);
    QCOMPARE(MailboxResolver::resolve(mailboxes, folder).value_or(QString()), selected);
}

QTEST_GUILESS_MAIN(TestImapEncoding)
#include "tst_imapencoding.moc"
