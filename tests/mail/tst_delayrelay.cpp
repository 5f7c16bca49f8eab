#include "support/DelayRelay.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

// The relay the slow-link benchmark and the breaking-link tests stand on: bytes arrive whole,
// in order and no sooner than the delay; a cut comes after exactly the bytes asked for, on every
// connection or on chosen ones.
class TestDelayRelay : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void bothWaysInOrderAfterTheDelay();
    void cutAfterServerBytes_data();
    void cutAfterServerBytes();
    void unreachableTargetEndsTheClient();
    void bandwidthSpreadsTheBytesOverTime();

private:
    // A target that sends `greeting` to each connection and echoes what it reads in capitals,
    // so that an answer is told apart from what was sent.
    void startTarget(const QByteArray& greeting)
    {
        m_target = std::make_unique<QTcpServer>();
        QVERIFY(m_target->listen(QHostAddress::LocalHost));
        connect(m_target.get(), &QTcpServer::newConnection, this, [this, greeting] {
            QTcpSocket* s = m_target->nextPendingConnection();
            s->write(greeting);
            connect(s, &QIODevice::readyRead, s, [s] { s->write(s->readAll().toUpper()); });
        });
    }
    // Connects `client` through the relay, gathering what arrives into `received`.
    void connectThrough(QTcpSocket& client, const DelayRelay& relay, QByteArray& received)
    {
        client.connectToHost(QHostAddress::LocalHost, relay.port());
        connect(&client, &QIODevice::readyRead, this, [&client, &received] { received += client.readAll(); });
    }
    std::unique_ptr<QTcpServer> m_target;
};

void TestDelayRelay::bothWaysInOrderAfterTheDelay()
{
    startTarget("hello\n");
    DelayRelay::Options o;
    o.targetPort = m_target->serverPort();
    o.delayToServerMs = 15;
    o.delayToClientMs = 10;
    DelayRelay relay(o);
    QVERIFY(relay.listen());

    QTcpSocket client;
    QElapsedTimer clock;
    clock.start();
    QByteArray received;
    connectThrough(client, relay, received);
    QTRY_COMPARE(received, QByteArray("hello\n"));
    QVERIFY(clock.elapsed() >= 10);

    // Many small writes, some back to back: the echo comes back whole and in order, one round
    // trip later at the earliest.
    QByteArray sent;
    for (int i = 0; i < 200; ++i) {
        const QByteArray chunk = "chunk-" + QByteArray::number(i) + ";";
        sent += chunk;
        client.write(chunk);
        if (i % 20 == 0)
            QCoreApplication::processEvents(); // some go out on their own
    }
    clock.restart();
    QTRY_COMPARE(received.size(), 6 + sent.size());
    QVERIFY(clock.elapsed() >= 25);
    QCOMPARE(received.mid(6), sent.toUpper());
    QCOMPARE(relay.connectionsAccepted(), 1);
    QCOMPARE(relay.bytesToClients(), qint64(received.size()));

    // Closing the client closes the link.
    client.disconnectFromHost();
    QTRY_COMPARE(relay.connectionsOpen(), 0);
}

void TestDelayRelay::cutAfterServerBytes_data()
{
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<bool>("chosen"); // cut as a chosen connection (both sides at once)
    QTest::newRow("before the greeting") << qint64(0) << false;
    QTest::newRow("inside the greeting") << qint64(3) << false;
    QTest::newRow("inside an answer") << qint64(1000) << false;
    QTest::newRow("chosen connection, inside the greeting") << qint64(3) << true;
    QTest::newRow("chosen connection, inside an answer") << qint64(1000) << true;
}

void TestDelayRelay::cutAfterServerBytes()
{
    QFETCH(qint64, limit);
    QFETCH(bool, chosen);
    startTarget("* OK ready\r\n");
    DelayRelay::Options o;
    o.targetPort = m_target->serverPort();
    o.delayToServerMs = o.delayToClientMs = 2;
    if (chosen)
        o.cutConnections = {limit};
    else
        o.dropAfterServerBytes = limit;
    DelayRelay relay(o);
    QVERIFY(relay.listen());

    QTcpSocket client;
    QByteArray received;
    bool closed = false;
    connect(&client, &QIODevice::readyRead, this, [&] { received += client.readAll(); });
    connect(&client, &QAbstractSocket::disconnected, this, [&] {
        received += client.readAll();
        closed = true;
    });
    client.connectToHost(QHostAddress::LocalHost, relay.port());
    QVERIFY(client.waitForConnected(5000));
    client.write(QByteArray(4000, 'a'));
    QTRY_VERIFY(closed);
    const QByteArray expected = (QByteArray("* OK ready\r\n") + QByteArray(4000, 'A')).left(int(limit));
    QCOMPARE(received, expected);
    QCOMPARE(relay.bytesToClients(), limit);
    QCOMPARE(relay.connectionsCut(), 1);
    QTRY_COMPARE(relay.connectionsOpen(), 0);
}

void TestDelayRelay::unreachableTargetEndsTheClient()
{
    quint16 freePort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        freePort = probe.serverPort();
    }
    DelayRelay::Options o;
    o.targetPort = freePort;
    DelayRelay relay(o);
    QVERIFY(relay.listen());
    QTcpSocket client;
    QSignalSpy closed(&client, &QAbstractSocket::disconnected);
    client.connectToHost(QHostAddress::LocalHost, relay.port());
    QVERIFY(closed.wait(5000));
    QTRY_COMPARE(relay.connectionsOpen(), 0);
}

// A narrow link: 300 KB at 1 MB/s take 0.3 s at the least, and still arrive whole and in order.
void TestDelayRelay::bandwidthSpreadsTheBytesOverTime()
{
    QByteArray greeting;
    for (int i = 0; greeting.size() < 300 * 1000; ++i)
        greeting += "line " + QByteArray::number(i) + "\n";
    startTarget(greeting);
    DelayRelay::Options o;
    o.targetPort = m_target->serverPort();
    o.delayToServerMs = o.delayToClientMs = 0;
    o.bytesPerSecond = 1000 * 1000;
    DelayRelay relay(o);
    QVERIFY(relay.listen());

    QTcpSocket client;
    QElapsedTimer clock;
    clock.start();
    QByteArray received;
    connectThrough(client, relay, received);
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), greeting.size(), 20000);
    QVERIFY(clock.elapsed() >= 300 * qint64(greeting.size()) / (300 * 1000));
    QCOMPARE(received, greeting);
    QCOMPARE(relay.bytesToClients(), qint64(greeting.size()));
}

QTEST_GUILESS_MAIN(TestDelayRelay)
#include "tst_delayrelay.moc"
