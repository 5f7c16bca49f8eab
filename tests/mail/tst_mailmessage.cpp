#include "mail/MailMessage.h"
#include "mail/MessageFromParts.h"

#include <QRandomGenerator>
#include <QTest>

// Builds a message from header lines and a body, with CR LF line ends as IMAP delivers them.
static QByteArray mail(const QList<QByteArray>& headers, const QByteArray& body)
{
    QByteArray raw;
    for (const QByteArray& h : headers)
        raw += h + "\r\n";
    raw += "\r\n";
    raw += body;
    return raw;
}

static const QDateTime kInternal(QDate(2023, 5, 17), QTime(8, 30, 15), Qt::UTC);

class TestMailMessage : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void multipartAlternative();
    void encodedHeaders_data();
    void encodedHeaders();
    void fromForms_data();
    void fromForms();
    void bodyEncodings_data();
    void bodyEncodings();
    void htmlOnlyBodies_data();
    void htmlOnlyBodies();
    void dates_data();
    void dates();
    void emptyAndMissingBodies();
    void attachmentTextSkipped();
    void nestedMultipartAndAttachedMessage();
    void malformedInput_data();
    void malformedInput();
    void largeBody();
    void rebuiltFromParts_data();
    void rebuiltFromParts();
};

void TestMailMessage::multipartAlternative()
{
    const QByteArray raw = mail(
        {"From: Ann Example <ann@example.com>", "To: bob@example.org", "Subject: Quarterly figures",
         "Date: Tue, 14 Mar 2023 09:15:00 +0000", "MIME-Version: 1.0",
         "Content-Type: multipart/alternative; boundary=\"b1\""},
        "preamble\r\n"
        "--b1\r\n"
        "Content-Type: text/plain; charset=utf-8\r\n\r\n"
        "Plain line one\r\nPlain line two\r\n"
        "--b1\r\n"
        "Content-Type: text/html; charset=utf-8\r\n\r\n"
        "<p>Html body</p>\r\n"
        "--b1--\r\n");
    const MailMessage m = MailMessage::fromBytes(raw, kInternal);
    QCOMPARE(m.From, QStringLiteral("Ann Example <ann@example.com>"));
    QCOMPARE(m.FromName, QStringLiteral("Ann Example"));
    QCOMPARE(m.FromAddress, QStringLiteral("ann@example.com"));
    QCOMPARE(m.Subject, QStringLiteral("Quarterly figures"));
    QCOMPARE(m.Date, QDateTime(QDate(2023, 3, 14), QTime(9, 15), Qt::UTC));
    QCOMPARE(m.PlainTextBody, QStringLiteral("Plain line one\r\nPlain line two"));
    QCOMPARE(m.HtmlBody, QStringLiteral("<p>Html body</p>"));
}

void TestMailMessage::encodedHeaders_data()
{
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("subject");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expectedSubject");

    QTest::newRow("Q utf-8") << QByteArray("=?UTF-8?Q?J=C3=BCrgen_M=C3=BCller?= <jm@example.de>")
                             << QByteArray("=?utf-8?q?Gr=C3=BC=C3=9Fe_aus_K=C3=B6ln?=")
                             << QStringLiteral("Jürgen Müller") << QStringLiteral("Grüße aus Köln");
    QTest::newRow("B utf-8") << QByteArray("=?UTF-8?B?5bGx55Sw5aSq6YOO?= <yamada@example.jp>")
                             << QByteArray("=?UTF-8?B?5pel5pys6Kqe44Gu5Lu25ZCN?=")
                             << QStringLiteral("山田太郎") << QStringLiteral("日本語の件名");
    QTest::newRow("Q latin-1") << QByteArray("=?ISO-8859-1?Q?Fran=E7ois_L=E9ger?= <fl@example.fr>")
                               << QByteArray("=?iso-8859-1?Q?R=E9sum=E9_d=E9taill=E9?=")
                               << QStringLiteral("François Léger") << QStringLiteral("Résumé détaillé");
    QTest::newRow("B latin-1") << QByteArray("=?ISO-8859-1?B?SvZyZyDFc3Ry9m0=?= <jo@example.se>")
                               << QByteArray("=?ISO-8859-1?B?xXJldHMgYuRzdA==?=")
                               << QStringLiteral("Jörg Åström") << QStringLiteral("Årets bäst");
    QTest::newRow("mixed words") << QByteArray("\"Plain\" <p@example.com>")
                                 << QByteArray("Re: =?UTF-8?Q?caf=C3=A9?= =?UTF-8?Q?_cr=C3=A8me?= today")
                                 << QStringLiteral("Plain") << QStringLiteral("Re: café crème today");
}

void TestMailMessage::encodedHeaders()
{
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, subject);
    QFETCH(QString, name);
    QFETCH(QString, expectedSubject);
    const MailMessage m = MailMessage::fromBytes(
        mail({"From: " + from, "Subject: " + subject, "Content-Type: text/plain"}, "x\r\n"), kInternal);
    QCOMPARE(m.FromName, name);
    QCOMPARE(m.Subject, expectedSubject);
    QVERIFY2(m.From.startsWith(name) || m.From.startsWith(QLatin1Char('"') + name), qPrintable(m.From));
    QVERIFY(m.From.contains(m.FromAddress));
}

void TestMailMessage::fromForms_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("address");

    QTest::newRow("bare address") << QByteArray("From: solo@example.com") << QStringLiteral("solo@example.com")
                                  << QString() << QStringLiteral("solo@example.com");
    QTest::newRow("quoted name with comma")
        << QByteArray("From: \"Doe, Jane\" <jane@example.com>")
        << QStringLiteral("\"Doe, Jane\" <jane@example.com>") << QStringLiteral("Doe, Jane")
        << QStringLiteral("jane@example.com");
    QTest::newRow("two senders") << QByteArray("From: A One <a@x.org>, B Two <b@x.org>")
                                 << QStringLiteral("A One <a@x.org>, B Two <b@x.org>")
                                 << QStringLiteral("A One") << QStringLiteral("a@x.org");
    QTest::newRow("group") << QByteArray("From: Team: Carl Three <carl@x.org>, d@x.org;")
                           << QStringLiteral("Team: Carl Three <carl@x.org>, d@x.org;")
                           << QStringLiteral("Carl Three") << QStringLiteral("carl@x.org");
    QTest::newRow("empty group") << QByteArray("From: Nobody:;") << QStringLiteral("Nobody: ;") << QString()
                                 << QString();
    QTest::newRow("two From headers, read as one list")
        << QByteArray("From: A One <a@x.org>\r\nFrom: b@x.org") << QStringLiteral("A One <a@x.org>, b@x.org")
        << QStringLiteral("A One") << QStringLiteral("a@x.org");
    QTest::newRow("lower-case name, folded value")
        << QByteArray("from: \"Folded Name\"\r\n <folded@x.org>") << QStringLiteral("Folded Name <folded@x.org>")
        << QStringLiteral("Folded Name") << QStringLiteral("folded@x.org");
    // Senders met before are kept by their raw value: one that differs only in case is another.
    QTest::newRow("name in lower case") << QByteArray("From: ann <ann@x.org>") << QStringLiteral("ann <ann@x.org>")
                                        << QStringLiteral("ann") << QStringLiteral("ann@x.org");
    QTest::newRow("the same name capitalised")
        << QByteArray("From: Ann <ann@x.org>") << QStringLiteral("Ann <ann@x.org>") << QStringLiteral("Ann")
        << QStringLiteral("ann@x.org");
    QTest::newRow("no From header") << QByteArray("X-Other: 1") << QString() << QString() << QString();
    QTest::newRow("empty From header") << QByteArray("From:") << QString() << QString() << QString();
}

void TestMailMessage::fromForms()
{
    QFETCH(QByteArray, header);
    // Twice: the second message comes from a sender met before.
    for (const QByteArray& subject : {QByteArray("s"), QByteArray("again")}) {
        const MailMessage m = MailMessage::fromBytes(mail({header, "Subject: " + subject}, "body\r\n"), kInternal);
        QTEST(m.From, "from");
        QTEST(m.FromName, "name");
        QTEST(m.FromAddress, "address");
        QCOMPARE(m.Subject, QString::fromLatin1(subject));
        QCOMPARE(m.PlainTextBody, QStringLiteral("body\r\n"));
    }
}

void TestMailMessage::bodyEncodings_data()
{
    QTest::addColumn<QByteArray>("contentHeaders");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected");

    QTest::newRow("qp latin-1 with soft breaks")
        << QByteArray("Content-Type: text/plain; charset=ISO-8859-1\r\n"
                      "Content-Transfer-Encoding: quoted-printable")
        << QByteArray("Caf=E9 cr=E8me, tr=E8s =\r\nlong line=3D joined\r\n")
        << QStringLiteral("Café crème, très long line= joined\r\n");
    QTest::newRow("qp utf-8")
        << QByteArray("Content-Type: text/plain; charset=\"utf-8\"\r\nContent-Transfer-Encoding: Quoted-Printable")
        << QByteArray("=E2=82=AC 5 f=C3=BCr =\r\nalle\r\n") << QStringLiteral("€ 5 für alle\r\n");
    QTest::newRow("base64 utf-8")
        << QByteArray("Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64")
        << QByteArray("0J/RgNC40LLQtdGCLCDQvNC40YAh\r\n8J+Ygw==\r\n") << QStringLiteral("Привет, мир!😃");
    QTest::newRow("base64 latin-1")
        << QByteArray("Content-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: base64")
        << QByteArray("U2No9m4gR3L832Vu\r\n") << QStringLiteral("Schön Grüßen");
    QTest::newRow("8bit latin-1") << QByteArray("Content-Type: text/plain; charset=iso-8859-1")
                                  << QByteArray("Gr\xfc\xdf" "e\r\n") << QStringLiteral("Grüße\r\n");
    QTest::newRow("8bit windows-1252 labelled latin-1")
        << QByteArray("Content-Type: text/plain; charset=iso-8859-1")
        << QByteArray("\x93quoted\x94 \x80 5\r\n") << QStringLiteral("“quoted” € 5\r\n");
    QTest::newRow("windows-1252 marks past the first eight bytes")
        << QByteArray("Content-Type: text/plain; charset=windows-1252")
        << QByteArray("Plain text first, then it\x92s done \x96 here\x85") << QStringLiteral("Plain text first, then it’s done – here…");
    QTest::newRow("8bit utf-8") << QByteArray("Content-Type: text/plain; charset=utf-8")
                                << QByteArray("na\xc3\xafve \xe2\x80\x94 ok\r\n")
                                << QStringLiteral("naïve — ok\r\n");
    QTest::newRow("koi8-r converted") << QByteArray("Content-Type: text/plain; charset=koi8-r")
                                      << QByteArray("\xf0\xd2\xc9\xd7\xc5\xd4\r\n")
                                      << QStringLiteral("Привет\r\n");
    QTest::newRow("no charset, valid utf-8") << QByteArray("Content-Type: text/plain")
                                             << QByteArray("\xc3\xa9t\xc3\xa9\r\n") << QStringLiteral("été\r\n");
    QTest::newRow("no charset, latin-1 bytes") << QByteArray("Content-Type: text/plain")
                                               << QByteArray("\xe9t\xe9\r\n") << QStringLiteral("été\r\n");
    QTest::newRow("no content type at all") << QByteArray("X-Nothing: 1") << QByteArray("d\xe9j\xe0\r\n")
                                            << QStringLiteral("déjà\r\n");
    QTest::newRow("unknown charset, utf-8 bytes")
        << QByteArray("Content-Type: text/plain; charset=x-no-such-charset")
        << QByteArray("\xc3\xa9t\xc3\xa9\r\n") << QStringLiteral("été\r\n");
    QTest::newRow("unknown charset, latin-1 bytes")
        << QByteArray("Content-Type: text/plain; charset=x-no-such-charset") << QByteArray("\xe9t\xe9\r\n")
        << QStringLiteral("été\r\n");
    QTest::newRow("declared utf-8 but latin-1 bytes") << QByteArray("Content-Type: text/plain; charset=utf-8")
                                                      << QByteArray("\xe9t\xe9\r\n") << QStringLiteral("été\r\n");
    QTest::newRow("unknown transfer encoding kept raw")
        << QByteArray("Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: x-weird")
        << QByteArray("as is\r\n") << QStringLiteral("as is\r\n");
}

void TestMailMessage::bodyEncodings()
{
    QFETCH(QByteArray, contentHeaders);
    QFETCH(QByteArray, body);
    const QByteArray raw = "From: a@b.c\r\nSubject: t\r\nMIME-Version: 1.0\r\n" + contentHeaders + "\r\n\r\n" + body;
    const MailMessage m = MailMessage::fromBytes(raw, kInternal);
    QTEST(m.PlainTextBody, "expected");
    QCOMPARE(m.HtmlBody, QString());
}

void TestMailMessage::htmlOnlyBodies_data()
{
    QTest::addColumn<QByteArray>("contentHeaders");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected");

    const QByteArray utf8 = "Content-Type: text/html; charset=utf-8";
    QTest::newRow("paragraphs and headings")
        << utf8
        << QByteArray("<html><body><h1>Title</h1><p>First\r\n   paragraph,\tone line.</p><p>Second</p>"
                      "</body></html>")
        << QStringLiteral("Title\r\n\r\nFirst paragraph, one line.\r\n\r\nSecond");
    QTest::newRow("br and divs")
        << utf8
        << QByteArray("<div>Hello<br>World<br><br>after a gap</div><div>next block</div><div></div>"
                      "<div>  </div><div>last</div>")
        << QStringLiteral("Hello\r\nWorld\r\n\r\nafter a gap\r\nnext block\r\nlast");
    QTest::newRow("entities")
        << utf8
        << QByteArray("<p>Fish &amp; chips &lt;b&gt; &quot;q&quot; &#8364;5 &euro;6 &#x1F600; caf&eacute;"
                      "&nbsp;&nbsp;x &unknown; AT&T</p>")
        << QStringLiteral("Fish & chips <b> \"q\" €5 €6 \U0001F600 café  x &unknown; AT&T");
    QTest::newRow("lists")
        << utf8
        << QByteArray("<p>Agenda:</p><ul><li>one</li><li>two <b>bold</b></li>\r\n<li><p>three</p></li>"
                      "</ul><ol><li>first<li>second</ol>tail")
        << QStringLiteral("Agenda:\r\n\r\none\r\ntwo bold\r\n\r\nthree\r\n\r\nfirst\r\nsecond\r\ntail");
    QTest::newRow("links keep their text")
        << utf8
        << QByteArray("Read <a href=\"https://example.com/x?a=1&amp;b=2\">the full story</a>, or "
                      "<a href=\"mailto:x@y.z\"><img src=\"i.png\" alt=\"icon\"></a>unsubscribe.")
        << QStringLiteral("Read the full story, or unsubscribe.");
    QTest::newRow("head, scripts, styles and comments")
        << utf8
        << QByteArray("<!DOCTYPE html><html><head><title>Hidden title</title><style>p{color:red}</style>"
                      "<meta charset=\"utf-8\"></head><body><script>var x = '<p>no</p>';</script>"
                      "<!-- a comment --><!--[if mso]><p>outlook only</p><![endif]-->"
                      "<p>Visible</p><noscript>Enable scripts</noscript><template>t</template></body></html>")
        << QStringLiteral("Visible\r\n\r\nEnable scripts");
    QTest::newRow("hidden preview line")
        << utf8
        << QByteArray("<div style=\"display: NONE; max-height:0\">Preview text</div><span hidden>h</span>"
                      "<div style=\"color:#333\">Shown</div>")
        << QStringLiteral("Shown");
    QTest::newRow("newsletter layout tables")
        << utf8
        << QByteArray(
               "<table width=\"100%\" cellpadding=\"0\"><tr><td align=\"center\">\r\n"
               "  <table><tr><td><img src=\"logo.png\"></td><td>Weekly <b>News</b></td></tr>\r\n"
               "  <tr><td colspan=\"2\"><h2>Top story</h2><p>Prices fell 5%.</p></td></tr>\r\n"
               "  <tr><td>Price</td><td>&euro;10</td><td>&nbsp;</td></tr></table>\r\n"
               "</td></tr><tr><td><a href=\"#\">View online</a> | <a href=\"#\">Unsubscribe</a></td></tr>"
               "</table>")
        << QStringLiteral("Weekly News\r\n\r\nTop story\r\n\r\nPrices fell 5%.\r\n\r\nPrice €10\r\n\r\n"
                          "View online | Unsubscribe");
    QTest::newRow("preformatted text kept")
        << utf8 << QByteArray("<p>Log:</p><pre>  a  b\r\n\tc\r\n</pre><p>end</p>")
        << QStringLiteral("Log:\r\n\r\n  a  b\r\n\tc\r\n\r\nend");
    QTest::newRow("broken markup")
        << utf8
        << QByteArray("<p>unclosed <b>bold <i>both</p><p>next</b> para<div>x</span></div></td>y & z <3")
        << QStringLiteral("unclosed bold both\r\n\r\nnext para\r\n\r\nx\r\ny & z <3");  // <div> ends the <p>
    QTest::newRow("text only, no tags")
        << utf8 << QByteArray("Just text,\r\n  on two lines") << QStringLiteral("Just text, on two lines");
    QTest::newRow("latin-1 part, the meta charset is not applied again")
        << QByteArray(
               "Content-Type: text/html; charset=ISO-8859-1\r\nContent-Transfer-Encoding: quoted-printable")
        << QByteArray("<html><head><meta http-equiv=3D\"Content-Type\" content=3D\"text/html; "
                      "charset=3Diso-8859-1\">"
                      "</head><body><p>Gr=FC=DFe aus K=F6ln</p></body></html>")
        << QStringLiteral("Grüße aus Köln");
    QTest::newRow("shift_jis part")
        << QByteArray("Content-Type: text/html; charset=Shift_JIS\r\nContent-Transfer-Encoding: base64")
        << QByteArray("PHA+k/qWe4zqPC9wPg==") << QStringLiteral("日本語");
    QTest::newRow("utf-8 part declaring another charset inside")
        << utf8 << QByteArray("<meta charset=\"windows-1252\"><p>Jürgen – 日本</p>")
        << QStringLiteral("Jürgen – 日本");
    QTest::newRow("nested deeper than a stack takes")
        << utf8
        << "before " + QByteArray("<div><b>").repeated(100000) + "deep" +
               QByteArray("</b></div>").repeated(100000) + " after"
        << QStringLiteral("before\r\n\r\ndeep\r\nafter"); // loose text opening a body reads as a paragraph
    QTest::newRow("empty body") << utf8 << QByteArray("") << QString();
    QTest::newRow("only invisible content")
        << utf8 << QByteArray("<html><head><style>x{}</style></head><body> <br> <!-- c --> </body></html>")
        << QString();
}

void TestMailMessage::htmlOnlyBodies()
{
    QFETCH(QByteArray, contentHeaders);
    QFETCH(QByteArray, body);
    const QByteArray raw =
        "From: a@b.c\r\nSubject: t\r\nMIME-Version: 1.0\r\n" + contentHeaders + "\r\n\r\n" + body;
    const MailMessage m = MailMessage::fromBytes(raw, kInternal);
    QTEST(m.PlainTextBody, "expected");
    QCOMPARE(m.HtmlBody.isEmpty(), body.isEmpty());
}

void TestMailMessage::dates_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QDateTime>("expected");

    QTest::newRow("offset east") << QByteArray("Date: Wed, 01 Feb 2023 23:45:10 +0200")
                                 << QDateTime(QDate(2023, 2, 1), QTime(21, 45, 10), Qt::UTC);
    QTest::newRow("offset west") << QByteArray("Date: Fri, 30 Dec 2022 20:00:00 -0500")
                                 << QDateTime(QDate(2022, 12, 31), QTime(1, 0), Qt::UTC);
    QTest::newRow("no weekday") << QByteArray("Date: 7 Jul 2021 12:00:00 +0000")
                                << QDateTime(QDate(2021, 7, 7), QTime(12, 0), Qt::UTC);
    QTest::newRow("missing") << QByteArray("X-No-Date: 1") << kInternal;
    QTest::newRow("unparsable") << QByteArray("Date: sometime next week") << kInternal;
    QTest::newRow("empty") << QByteArray("Date:") << kInternal;
    QTest::newRow("the last of two") << QByteArray("Date: 7 Jul 2021 12:00:00 +0000\r\nDate: 8 Jul 2021 12:00:00 +0000")
                                     << QDateTime(QDate(2021, 7, 8), QTime(12, 0), Qt::UTC);
    QTest::newRow("the last of two, unparsable")
        << QByteArray("Date: 7 Jul 2021 12:00:00 +0000\r\nDate: sometime next week") << kInternal;
}

void TestMailMessage::dates()
{
    QFETCH(QByteArray, header);
    QFETCH(QDateTime, expected);
    const MailMessage m = MailMessage::fromBytes(mail({"From: a@b.c", header}, "x\r\n"), kInternal);
    QVERIFY(m.Date.isValid());
    QCOMPARE(m.Date.toUTC(), expected.toUTC());
}

void TestMailMessage::emptyAndMissingBodies()
{
    // Headers only, no blank line.
    MailMessage m = MailMessage::fromBytes("From: a@b.c\r\nSubject: only headers\r\n", kInternal);
    QCOMPARE(m.Subject, QStringLiteral("only headers"));
    QCOMPARE(m.PlainTextBody, QString());
    QCOMPARE(m.HtmlBody, QString());

    // Empty text part beside an html part.
    m = MailMessage::fromBytes(mail({"From: a@b.c", "Content-Type: multipart/alternative; boundary=z"},
                                    "--z\r\nContent-Type: text/plain\r\n\r\n\r\n"
                                    "--z\r\nContent-Type: text/html\r\n\r\n<b>x</b>\r\n--z--\r\n"),
                               kInternal);
    QCOMPARE(m.PlainTextBody, QString());
    QCOMPARE(m.HtmlBody, QStringLiteral("<b>x</b>"));

    // Html only: the plain body is the html's text, the html stays as sent.
    m = MailMessage::fromBytes(mail({"From: a@b.c", "Content-Type: text/html; charset=utf-8"}, "<i>only</i>"),
                               kInternal);
    QCOMPARE(m.PlainTextBody, QStringLiteral("only"));
    QCOMPARE(m.HtmlBody, QStringLiteral("<i>only</i>"));

    // No text part at all.
    m = MailMessage::fromBytes(mail({"From: a@b.c", "Content-Type: image/png", "Content-Transfer-Encoding: base64"},
                                    "iVBORw0KGgo=\r\n"),
                               kInternal);
    QCOMPARE(m.PlainTextBody, QString());
    QCOMPARE(m.HtmlBody, QString());
    QCOMPARE(m.FromAddress, QStringLiteral("a@b.c"));
}

void TestMailMessage::attachmentTextSkipped()
{
    const QByteArray raw = mail(
        {"From: a@b.c", "Content-Type: multipart/mixed; boundary=\"mix\""},
        "--mix\r\n"
        "Content-Type: text/plain; name=notes.txt\r\n"
        "Content-Disposition: attachment; filename=notes.txt\r\n\r\n"
        "attached notes\r\n"
        "--mix\r\n"
        "Content-Type: text/html\r\nContent-Disposition: attachment; filename=page.html\r\n\r\n"
        "<p>attached page</p>\r\n"
        "--mix\r\n"
        "Content-Type: text/plain; charset=utf-8\r\nContent-Disposition: inline\r\n\r\n"
        "the real body\r\n"
        "--mix--\r\n");
    const MailMessage m = MailMessage::fromBytes(raw, kInternal);
    QCOMPARE(m.PlainTextBody, QStringLiteral("the real body"));
    QCOMPARE(m.HtmlBody, QString());
}

void TestMailMessage::nestedMultipartAndAttachedMessage()
{
    // multipart/mixed { multipart/alternative { plain, related { html, image } }, message/rfc822 }:
    // the bodies come from the alternative part, never from the forwarded message.
    const QByteArray raw = mail(
        {"From: a@b.c", "Content-Type: multipart/mixed; boundary=outer"},
        "--outer\r\n"
        "Content-Type: multipart/alternative; boundary=alt\r\n\r\n"
        "--alt\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nouter plain\r\n"
        "--alt\r\nContent-Type: multipart/related; boundary=rel\r\n\r\n"
        "--rel\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<p>outer html</p>\r\n"
        "--rel\r\nContent-Type: image/gif\r\nContent-Transfer-Encoding: base64\r\n\r\nR0lGODlh\r\n"
        "--rel--\r\n"
        "--alt--\r\n"
        "--outer\r\n"
        "Content-Type: message/rfc822\r\n\r\n"
        "From: inner@b.c\r\nSubject: inner\r\nContent-Type: text/plain\r\n\r\ninner plain\r\n"
        "--outer--\r\n");
    const MailMessage m = MailMessage::fromBytes(raw, kInternal);
    QCOMPARE(m.PlainTextBody, QStringLiteral("outer plain"));
    QCOMPARE(m.HtmlBody, QStringLiteral("<p>outer html</p>"));
    QCOMPARE(m.FromAddress, QStringLiteral("a@b.c"));
}

void TestMailMessage::malformedInput_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("nul bytes") << QByteArray(64, '\0');
    QByteArray noise(20000, Qt::Uninitialized);
    QRandomGenerator generator(4711);
    for (char& c : noise)
        c = char(generator.bounded(256));
    QTest::newRow("random bytes") << noise;
    QTest::newRow("unterminated multipart")
        << QByteArray("Content-Type: multipart/mixed; boundary=q\r\n\r\n--q\r\nContent-Type: text/plain\r\n\r\nhal");
    QTest::newRow("multipart without boundary")
        << QByteArray("Content-Type: multipart/alternative\r\n\r\n--x\r\n\r\nbody\r\n--x--\r\n");
    QTest::newRow("broken base64") << QByteArray("Content-Type: text/plain\r\nContent-Transfer-Encoding: base64\r\n"
                                                 "\r\n!!!***@@@===\r\n");
    QTest::newRow("broken encoded words")
        << QByteArray("From: =?utf-8?B?####?= <@>\r\nSubject: =?no-such?Q?x=ZZ?= =?utf-8?Q?\r\n\r\nx");
    QTest::newRow("endless header") << QByteArray(100000, 'H');
}

void TestMailMessage::malformedInput()
{
    QFETCH(QByteArray, raw);
    const MailMessage m = MailMessage::fromBytes(raw, kInternal);
    // Whatever is unreadable stays empty; the date falls back to the server's date.
    QCOMPARE(m.Date, kInternal);
    QVERIFY(m.PlainTextBody.size() <= raw.size());
}

void TestMailMessage::largeBody()
{
    QByteArray line = "The quick brown fox jumps over the lazy dog 0123456789 abcdefghij.\r\n";
    QByteArray body;
    while (body.size() < 5 * 1024 * 1024)
        body += line;
    const QByteArray raw =
        mail({"From: big@example.com", "Subject: big", "Content-Type: multipart/alternative; boundary=big"},
             "--big\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n" + body
                 + "--big\r\nContent-Type: text/html\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                 + body.toBase64() + "\r\n--big--\r\n");
    const MailMessage m = MailMessage::fromBytes(raw, kInternal);
    QCOMPARE(m.PlainTextBody.size(), body.size() - 2); // the CR LF before the boundary belongs to it
    QVERIFY(m.PlainTextBody.startsWith(QString::fromLatin1(line)));
    QCOMPARE(m.HtmlBody.toLatin1(), body);
}

// A message rebuilt from its header and its body parts reads like the whole message; what
// cannot be rebuilt safely is refused (the whole message is fetched instead).
void TestMailMessage::rebuiltFromParts_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QList<QByteArray>>("parts"); // MIME header, body, MIME header, body...
    QTest::addColumn<QByteArray>("whole");        // empty: nothing is rebuilt

    const QByteArray header =
        "From: =?utf-8?q?Ma=C3=ABl?= <mael@example.org>\r\nSubject: =?iso-8859-1?q?d=E9j=E0?=\r\n"
        "Date: Fri, 04 Dec 2026 08:00:00 -0500\r\nContent-Type: multipart/mixed;\r\n"
        " boundary=\"=_x y'(z)\"\r\n\r\n";
    const QByteArray plainMime =
        "Content-Type: text/plain; charset=iso-8859-15\r\nContent-Transfer-Encoding: "
        "quoted-printable\r\n\r\n";
    const QByteArray plain = "=A4 12, soft=\r\n break";
    const QByteArray htmlMime =
        "Content-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n";
    const QByteArray html = QByteArray("<b>d\xc3\xa9j\xc3\xa0</b>").toBase64();
    const QByteArray pdf = "Content-Type: application/pdf\r\nContent-Disposition: attachment\r\n\r\nJVBERi0=";
    QTest::newRow("text and html around an attachment")
        << header << QList<QByteArray>{plainMime, plain, htmlMime, html}
        << header + "--=_x y'(z)\r\n" + plainMime + plain + "\r\n--=_x y'(z)\r\n" + pdf +
               "\r\n--=_x y'(z)\r\n" + htmlMime + html + "\r\n--=_x y'(z)--\r\n";
    QTest::newRow("header alone") << header << QList<QByteArray>{}
                                  << header + "--=_x y'(z)\r\n" + pdf + "\r\n--=_x y'(z)--\r\n";
    QTest::newRow("part without header lines")
        << header << QList<QByteArray>{QByteArray(), "bare text"}
        << header + "--=_x y'(z)\r\n\r\nbare text\r\n--=_x y'(z)\r\n" + pdf + "\r\n--=_x y'(z)--\r\n";
    QTest::newRow("single-part header") << QByteArray("Subject: x\r\nContent-Type: text/plain\r\n\r\n")
                                        << QList<QByteArray>{plainMime, plain} << QByteArray();
    QTest::newRow("multipart without boundary")
        << QByteArray("Subject: x\r\nContent-Type: multipart/mixed\r\n\r\n")
        << QList<QByteArray>{plainMime, plain} << QByteArray();
    QTest::newRow("part holding the delimiter")
        << header << QList<QByteArray>{plainMime, "text\r\n--=_x y'(z)\r\nmore"} << QByteArray();
}

void TestMailMessage::rebuiltFromParts()
{
    QFETCH(QByteArray, header);
    QFETCH(QList<QByteArray>, parts);
    QFETCH(QByteArray, whole);
    QList<MessageFromParts::Part> list;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        list.append({parts[i], parts[i + 1]});
    const std::optional<QByteArray> rebuilt = MessageFromParts::assemble(header, list);
    QCOMPARE(rebuilt.has_value(), !whole.isEmpty());
    if (!rebuilt)
        return;
    const MailMessage expected = MailMessage::fromBytes(whole, kInternal);
    const MailMessage got = MailMessage::fromBytes(*rebuilt, kInternal);
    QVERIFY(!expected.Subject.isEmpty());
    QCOMPARE(got.From, expected.From);
    QCOMPARE(got.Subject, expected.Subject);
    QCOMPARE(got.Date, expected.Date);
    QCOMPARE(got.PlainTextBody, expected.PlainTextBody);
    QCOMPARE(got.HtmlBody, expected.HtmlBody);
}

QTEST_GUILESS_MAIN(TestMailMessage)
#include "tst_mailmessage.moc"
