#include "log.h"

#include <unistd.h>

void devLog(const QString &text)
{
    // A single write() per line so that lines never interleave with anything else on stderr.
    QByteArray line = "devsim: " + text.toUtf8() + '\n';
    const char *data = line.constData();
    qsizetype left = line.size();
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, data, static_cast<size_t>(left));
        if (written <= 0)
            return;
        data += written;
        left -= written;
    }
}

QString hexByte(unsigned int byte)
{
    return QString::number(byte & 0xFFu, 16).toUpper().rightJustified(2, QChar('0'));
}

QString printable(const QByteArray &bytes, int maxBytes)
{
    QString text;
    const int shown = qMin<int>(bytes.size(), maxBytes);
    for (int i = 0; i < shown; ++i) {
        const auto byte = static_cast<unsigned char>(bytes.at(i));
        if (byte >= 0x20 && byte < 0x7F && byte != '\\')
            text += QChar(byte);
        else
            text += QStringLiteral("\\x") + hexByte(byte);
    }
    if (bytes.size() > shown)
        text += QStringLiteral("... (%1 bytes)").arg(bytes.size());
    return text;
}
