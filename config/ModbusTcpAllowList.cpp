#include "config/ModbusTcpAllowList.h"

#include <QStringList>

bool ModbusTcpAllowList::parse(const QString& text, QString* whyNot)
{
    QList<QPair<QHostAddress, int>> ranges;
    const QStringList entries = text.split(QLatin1Char(','));
    for (const QString& raw : entries) {
        const QString entry = raw.trimmed();
        if (entry.isEmpty() && entries.size() == 1)
            break;
        QPair<QHostAddress, int> range = QHostAddress::parseSubnet(entry);
        if (range.first.isNull() && !entry.contains(QLatin1Char('/'))) {
            // A single address is a range of one.
            const QHostAddress address(entry);
            if (!address.isNull())
                range = {address, address.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128};
        }
        // Qt reads "10.1" as 10.0.0.1; an operator writing it meant something else.
        const QString address = entry.section(QLatin1Char('/'), 0, 0);
        const bool shortIpv4 = !address.contains(QLatin1Char(':')) && address.count(QLatin1Char('.')) != 3;
        if (range.first.isNull() || range.second < 0 || shortIpv4) {
            if (whyNot)
                *whyNot = QStringLiteral("«%1» не адрес IPv4 или IPv6 и не диапазон вида 10.1.0.0/16")
                              .arg(entry.isEmpty() ? QStringLiteral("(пусто)") : entry);
            return false;
        }
        ranges.append(range);
    }
    m_ranges = ranges;
    return true;
}

bool ModbusTcpAllowList::admits(const QHostAddress& client) const
{
    if (m_ranges.isEmpty())
        return true;
    bool mapped = false;
    const quint32 v4 = client.toIPv4Address(&mapped);
    const QHostAddress plain = mapped ? QHostAddress(v4) : client;
    for (const auto& range : m_ranges)
        if (plain.isInSubnet(range) || client.isInSubnet(range))
            return true;
    return false;
}
