#pragma once

#include <QByteArray>

#include <vector>

// Tells, among bytes a port received, those the program sends (its own lines and control bytes)
// from anything else: a port echoing the device's output back, a line discipline's translations, a
// prober's commands. The program sends nothing but what it is known to send, so every other byte is
// a fault on its side of the wire, counted and logged as it arrives.
class cRxAudit
{
public:
    // known: what the program may send here, each taken as a whole; total: the device's count.
    cRxAudit(std::vector<QByteArray> known, qint64 &total);

    // Bytes to judge. A tail that could still become one of the known messages is kept for the
    // next call.
    void take(const QByteArray &bytes);
    // The port is gone: a kept tail never became a known message.
    void flush();

private:
    void report(const QByteArray &unexpected);

    std::vector<QByteArray> m_known;
    qint64 &m_total;
    QByteArray m_pending;
};
