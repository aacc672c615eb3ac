#include "rxaudit.h"

#include "log.h"

cRxAudit::cRxAudit(std::vector<QByteArray> known, qint64 &total)
    : m_known(std::move(known))
    , m_total(total)
{
}

void cRxAudit::take(const QByteArray &bytes)
{
    m_pending += bytes;
    QByteArray unexpected;
    qsizetype at = 0;
    while (at < m_pending.size()) {
        const QByteArrayView rest = QByteArrayView(m_pending).sliced(at);
        bool whole = false;
        bool started = false;
        for (const QByteArray &known : m_known) {
            if (rest.startsWith(known)) {
                at += known.size();
                whole = true;
                break;
            }
            started = started || QByteArrayView(known).startsWith(rest);
        }
        if (whole)
            continue;
        if (started)
            break;
        unexpected += m_pending.at(at);
        ++at;
    }
    m_pending.remove(0, at);
    report(unexpected);
}

void cRxAudit::flush()
{
    report(m_pending);
    m_pending.clear();
}

void cRxAudit::report(const QByteArray &unexpected)
{
    if (unexpected.isEmpty())
        return;
    m_total += unexpected.size();
    devLog(QStringLiteral("unexpected rx %1 bytes: %2").arg(unexpected.size()).arg(printable(unexpected, 80)));
}
