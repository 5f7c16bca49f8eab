// How values are written for the server: modified UTF-7 mailbox names and quoted strings.
#include "mail/ImapQuoting.h"
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
};

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

QTEST_GUILESS_MAIN(TestImapEncoding)
#include "tst_imapencoding.moc"
