#include "device/nmeasentence.h"

#include <QTest>

#include <cstring>

namespace {

// The checksum worked out here, independently of the code under test.
QByteArray withChecksum(const QByteArray &body)
{
    int sum = 0;
    for (int i = 1; i < body.size(); ++i)
        sum ^= quint8(body[i]);
    return body + '*' + QByteArray::number(sum, 16).toUpper().rightJustified(2, '0');
}

cNmeaSentence parsed(const QByteArray &input)
{
    cNmeaSentence sentence;
    sentence.parse(input.constData(), int(input.size()));
    return sentence;
}

} // namespace

class tst_NmeaSentence : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void parseCountLimits();
    void getField_data();
    void getField();
    void getFieldCapacity();
    void getFieldInt_data();
    void getFieldInt();
    void commandSentence_data();
    void commandSentence();
};

void tst_NmeaSentence::parse_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("sentence"); // empty: not valid

    const QByteArray reply = withChecksum("$PKVR,255,0,0,730400.03.00.00");
    QTest::newRow("dollar start") << reply + "\r\n" << reply;
    const QByteArray bang = withChecksum("!AIVDM,1,1,,A,13aEOK?P00PD2wVMdLDRhgvL289?,0");
    QTest::newRow("bang start") << bang + "\r\n" << bang;
    QTest::newRow("no line end needed") << reply << reply;

    // "PKVR,1,u" has checksum 0x5B: its lower-case form must not validate.
    QCOMPARE(withChecksum("$PKVR,1,u"), QByteArray("$PKVR,1,u*5B"));
    QTest::newRow("lower-case checksum") << QByteArray("$PKVR,1,u*5b\r\n") << QByteArray();
    QTest::newRow("upper-case checksum") << QByteArray("$PKVR,1,u*5B\r\n") << QByteArray("$PKVR,1,u*5B");
    QTest::newRow("wrong checksum") << QByteArray("$PKVR,1,u*5C\r\n") << QByteArray();
    QTest::newRow("single checksum digit") << QByteArray("$PKVR,1,u*5") << QByteArray();
    // Characters that are no upper-case hex digit must not stand in for one ("2," once read as
    // 0x1C, "0a" as 0x2A, "0G" as 0x10).
    QCOMPARE(withChecksum("$PKVR,1,uq"), QByteArray("$PKVR,1,uq*2A"));
    QCOMPARE(withChecksum("$PKVR,1,uK"), QByteArray("$PKVR,1,uK*10"));
    QTest::newRow("comma as checksum digit") << QByteArray("$PKV1R,0,0,02a,p,pver,0*2,\n") << QByteArray();
    QTest::newRow("lower-case low digit") << QByteArray("$PKVR,1,uq*0a\r\n") << QByteArray();
    QTest::newRow("letter past F") << QByteArray("$PKVR,1,uK*0G\r\n") << QByteArray();

    // 80 characters from "$" through the last checksum digit is the longest accepted.
    const QByteArray longest = withChecksum("$PKVR," + QByteArray(71, 'A'));
    QCOMPARE(longest.size(), 80);
    QTest::newRow("80 characters") << longest + "\r\n" << longest;
    const QByteArray tooLong = withChecksum("$PKVR," + QByteArray(72, 'A'));
    QCOMPARE(tooLong.size(), 81);
    QTest::newRow("81 characters") << tooLong + "\r\n" << QByteArray();
    // Far beyond the buffer; what follows it must still be found.
    QTest::newRow("overlong, then a valid one") << withChecksum("$PKVR," + QByteArray(200, 'B')) + "\r\n"
            + reply + "\r\n" << reply;

    QTest::newRow("LF before the star") << QByteArray("$PKVR,1\n,u*5B\r\n") << QByteArray();
    QTest::newRow("LF, then a new sentence") << "$PKVR,1\n" + reply << reply;
    QTest::newRow("leading garbage") << "\x01\xff garbage ** 12,34 " + reply + "\r\n" << reply;
    QTest::newRow("second dollar belongs to the body") << withChecksum("$AB$CD") << withChecksum("$AB$CD");
    QTest::newRow("second dollar does not restart") << "$junk" + reply << QByteArray();
    QTest::newRow("first of two valid sentences") << reply + "\r\n" + bang + "\r\n" << reply;
    QTest::newRow("bad one, then a good one") << "$PKVR,1,u*5C\r\n" + bang + "\r\n" << bang;
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("no start character") << QByteArray("PKVR,1,u*5B\r\n") << QByteArray();
}

void tst_NmeaSentence::parse()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, sentence);

    // Parsed into an object that holds a valid sentence already: nothing of that may remain.
    cNmeaSentence parsedSentence = parsed(withChecksum("$PKVR,255,0,0,7304"));
    parsedSentence.parse(input.constData(), int(input.size()));
    QCOMPARE(parsedSentence.valid, !sentence.isEmpty());
    if (sentence.isEmpty()) {
        QCOMPARE(parsedSentence.findField(1), -1);
        return;
    }
    QCOMPARE(parsedSentence.length, sentence.size() + 2);
    QCOMPARE(QByteArray(parsedSentence.text, parsedSentence.length), sentence + "\r\n");
}

void tst_NmeaSentence::parseCountLimits()
{
    const QByteArray reply = withChecksum("$PKVR,255,0,0,7304") + "\r\n";
    cNmeaSentence sentence;
    sentence.parse(reply.constData(), 0);
    QVERIFY(!sentence.valid);
    sentence.parse(reply.constData(), -5);
    QVERIFY(!sentence.valid);
    // The last checksum digit lies beyond the count.
    sentence.parse(reply.constData(), int(reply.indexOf('*')) + 2);
    QVERIFY(!sentence.valid);
    sentence.parse(reply.constData(), int(reply.indexOf('*')) + 3);
    QVERIFY(sentence.valid);
}

void tst_NmeaSentence::getField_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("field");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QByteArray>("value");

    const QByteArray reply = withChecksum("$PKVR,255,,x,730400.03.00.00,last");
    QTest::newRow("address") << reply << 1 << true << QByteArray("PKVR");
    QTest::newRow("status") << reply << 2 << true << QByteArray("255");
    QTest::newRow("empty between commas") << reply << 3 << false << QByteArray();
    QTest::newRow("one character") << reply << 4 << true << QByteArray("x");
    QTest::newRow("version") << reply << 5 << true << QByteArray("730400.03.00.00");
    QTest::newRow("last, ends at star") << reply << 6 << true << QByteArray("last");
    QTest::newRow("beyond the last") << reply << 7 << false << QByteArray();
    QTest::newRow("field zero") << reply << 0 << false << QByteArray();
    QTest::newRow("empty last field") << withChecksum("$PKVR,255,") << 3 << false << QByteArray();
    QTest::newRow("empty address") << withChecksum("$,255") << 1 << false << QByteArray();
    QTest::newRow("not valid") << QByteArray("$PKVR,255*00") << 1 << false << QByteArray();
}

void tst_NmeaSentence::getField()
{
    QFETCH(QByteArray, input);
    QFETCH(int, field);
    QFETCH(bool, found);
    QFETCH(QByteArray, value);

    const cNmeaSentence sentence = parsed(input);
    char buffer[80];
    std::memset(buffer, '#', sizeof buffer);
    QCOMPARE(sentence.getField(field, buffer, sizeof buffer), found);
    if (!found) {
        // Untouched on failure.
        QCOMPARE(QByteArray(buffer, sizeof buffer), QByteArray(sizeof buffer, '#'));
        return;
    }
    QCOMPARE(QByteArray(buffer), value);
    // The rest of the buffer is cleared.
    QCOMPARE(QByteArray(buffer + value.size(), sizeof buffer - value.size()),
             QByteArray(int(sizeof buffer) - value.size(), '\0'));
}

void tst_NmeaSentence::getFieldCapacity()
{
    // The longest field a valid sentence can carry, copied into buffers of several sizes.
    const QByteArray field = QByteArray("0123456789").repeated(8).left(74);
    const cNmeaSentence sentence = parsed(withChecksum("$," + field));
    QVERIFY(sentence.valid);

    for (const int capacity : { 80, 75, 74, 10, 1 }) {
        char buffer[81];
        std::memset(buffer, '#', sizeof buffer);
        QVERIFY(sentence.getField(2, buffer, capacity));
        const int copied = qMin(capacity - 1, int(field.size()));
        QCOMPARE(QByteArray(buffer), field.left(copied));
        QCOMPARE(QByteArray(buffer + copied, capacity - copied), QByteArray(capacity - copied, '\0'));
        // Nothing written past the capacity.
        QCOMPARE(buffer[capacity], '#');
    }
    char buffer[4] = { '#', '#', '#', '#' };
    QVERIFY(!sentence.getField(2, buffer, 0));
    QVERIFY(!sentence.getField(2, nullptr, 10));
    QCOMPARE(buffer[0], '#');
}

void tst_NmeaSentence::getFieldInt_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");

    QTest::newRow("plain") << QByteArray("255") << true << 255;
    QTest::newRow("256") << QByteArray("256") << true << 256;
    QTest::newRow("negative") << QByteArray("-12") << true << -12;
    QTest::newRow("plus sign") << QByteArray("+7") << true << 7;
    QTest::newRow("leading blanks") << QByteArray("  42") << true << 42;
    QTest::newRow("trailing text") << QByteArray("255abc") << true << 255;
    QTest::newRow("leading zeros") << QByteArray("0255") << true << 255;
    QTest::newRow("letters") << QByteArray("abc") << false << 0;
    QTest::newRow("sign only") << QByteArray("-") << false << 0;
    QTest::newRow("blank then letters") << QByteArray(" x1") << false << 0;
    QTest::newRow("empty") << QByteArray() << false << 0;
    // Only 24 characters of a field are looked at.
    QTest::newRow("long number") << QByteArray(22, ' ') + "12345" << true << 12;
}

void tst_NmeaSentence::getFieldInt()
{
    QFETCH(QByteArray, field);
    QFETCH(bool, ok);
    QFETCH(int, value);

    const cNmeaSentence sentence = parsed(withChecksum("$PKVR," + field + ",0"));
    QVERIFY(sentence.valid);
    int number = -99999;
    QCOMPARE(sentence.getFieldInt(2, number), ok);
    QCOMPARE(number, ok ? value : -99999);
}

void tst_NmeaSentence::commandSentence_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("sentence");

    QTest::newRow("appver") << QByteArray("appver") << QByteArray("$PKVR,0,0,0,2,appver,0*2D");
    QTest::newRow("checksum below 0x10") << QByteArray("Af") << QByteArray("$PKVR,0,0,0,2,Af,0*0A");
    QTest::newRow("text unescaped") << QByteArray("a,b*") << withChecksum("$PKVR,0,0,0,2,a,b*,0");
    QTest::newRow("empty text") << QByteArray() << withChecksum("$PKVR,0,0,0,2,,0");
}

void tst_NmeaSentence::commandSentence()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, sentence);
    QCOMPARE(::commandSentence(text), sentence);
}

QTEST_GUILESS_MAIN(tst_NmeaSentence)
#include "tst_nmeasentence.moc"
