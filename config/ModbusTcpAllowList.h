#pragma once

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>

// The clients the Modbus TCP server admits, from the setting's text: comma-separated IPv4 or
// IPv6 addresses and CIDR ranges ("10.1.0.0/16, 192.168.5.7, fd00::/8"). An empty text admits
// every client. An IPv4 client reaching a dual-stack socket as ::ffff:a.b.c.d counts as a.b.c.d.
class ModbusTcpAllowList
{
public:
    // False, with the operator's reason in Russian, when an entry is no address or range.
    bool parse(const QString& text, QString* whyNot = nullptr);
    bool admits(const QHostAddress& client) const;
    bool isEmpty() const { return m_ranges.isEmpty(); }

private:
    QList<QPair<QHostAddress, int>> m_ranges;
};
