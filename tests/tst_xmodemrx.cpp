// The sender against a receiver nobody here wrote: lrzsz rx over a pseudo-terminal.
#include "device/serialport.h"
#include "rxreceiver.h"
#include "update/xmodem1ksend.h"

#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {
QtMessageHandler testHandler = nullptr;

// The sender's per-block trace would drown the test's own output.
void dropTrace(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtDebugMsg)
        testHandler(type, context, message);
}
} // namespace

class TestXmodemRx : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("rx")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty())
            QSKIP("needs lrzsz rx and socat");
        QVERIFY(m_dir.isValid());
        testHandler = qInstallMessageHandler(dropTrace);
    }

    void sendToRx_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("1 byte") << 1;
        QTest::newRow("1023 bytes") << 1023;
        QTest::newRow("1024 bytes") << 1024;
        QTest::newRow("1025 bytes") << 1025;
        QTest::newRow("300000 bytes") << 300000;
        QTest::newRow("270 KiB, block number wraps") << 270 * 1024;
    }

    void sendToRx()
    {
        QFETCH(int, size);
        QByteArray data(size, Qt::Uninitialized);
        for (char &c : data)
            c = char(QRandomGenerator::global()->bounded(256));
        const QString path = m_dir.filePath(QStringLiteral("update%1.img").arg(size));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(data);
        }

        cRxReceiver rx;
        QVERIFY(rx.start());
        // Configured as the program configures the boot loader port; the pty ignores the speed.
        cSerialPort port;
        port.setPortName(rx.portPath());
        port.setQueryMode(cPort::Polling);
        port.setBaudRate(110);
        port.setDataBits(cSerialLine::Data8);
        port.setParity(cSerialLine::NoParity);
        port.setStopBits(cSerialLine::OneStop);
        port.setFlowControl(cSerialLine::NoFlowControl);
        port.setTimeout(5000);
        // The handshake takes the receiver's start request before the sender runs. rx starts as
        // the port opens, and its first "C" can come before the open has dropped what was there
        // before it; rx repeats it after its 10 s time-out.
        QVERIFY(port.open(QIODevice::ReadWrite));
        port.setTimeout(15000);
        char start = 0;
        QCOMPARE(port.read(&start, 1), qint64(1));
        QCOMPARE(start, 'C');
        port.close();
        port.setTimeout(5000);

        cXmodem1KSend sender(path.toUtf8().toStdString(), &port);
        sender.startTransfer();
        QVERIFY(sender.wait(60000));
        QCOMPARE(sender.status.load(), XmodemComplete);
        QCOMPARE(sender.progress.load(), 100);
        QVERIFY2(rx.waitForExit(10000), rx.diagnostics().constData());

        QFile received(rx.outputPath());
        QVERIFY(received.open(QIODevice::ReadOnly));
        const QByteArray image = received.readAll();
        const int padded = (size + 1023) / 1024 * 1024;
        QCOMPARE(image.size(), padded);
        QVERIFY(image.left(size) == data);
        QCOMPARE(image.mid(size), QByteArray(padded - size, '\x1a'));
    }
};

QTEST_GUILESS_MAIN(TestXmodemRx)
#include "tst_xmodemrx.moc"
