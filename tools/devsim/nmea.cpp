#include "nmea.h"

#include "log.h"

namespace nmea {

quint8 checksum(const QByteArray &body)
{
    quint8 sum = 0;
    for (const char c : body)
        sum ^= static_cast<quint8>(c);
    return sum;
}

QByteArray sentence(const QByteArray &body, char start, bool lowerCaseHex)
{
    QByteArray hex = QByteArray::number(checksum(body), 16).rightJustified(2, '0');
    hex = lowerCaseHex ? hex.toLower() : hex.toUpper();
    return start + body + '*' + hex + "\r\n";
}

static int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool parse(const QByteArray &line, QByteArray &body, QString &reason)
{
    if (line.isEmpty() || (line.at(0) != '$' && line.at(0) != '!')) {
        reason = QStringLiteral("no $ at start");
        return false;
    }
    const qsizetype star = line.lastIndexOf('*');
    if (star < 1 || star != line.size() - 3) {
        reason = QStringLiteral("no *HH at end");
        return false;
    }
    const int high = hexValue(line.at(star + 1));
    const int low = hexValue(line.at(star + 2));
    if (high < 0 || low < 0) {
        reason = QStringLiteral("checksum not hex");
        return false;
    }
    body = line.mid(1, star - 1);
    if (checksum(body) != high * 16 + low) {
        reason = QStringLiteral("bad checksum, expected %1").arg(hexByte(checksum(body)));
        return false;
    }
    return true;
}

QByteArray appverBody()
{
    return QByteArrayLiteral("PKVR,0,0,0,2,appver,0");
}

QByteArray bootCommandLine()
{
    return sentence(QByteArrayLiteral("PKVR,0,3,0x6D1F48A3,0,bootcmd 0x5A3C9E01,0")).chopped(2);
}

} // namespace nmea
