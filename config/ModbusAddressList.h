#pragma once

#include <QList>

// Modbus device addresses of the groups that hold batteries, groups 1 to 6 in order.
// The settings page rebuilds it at start-up and on every apply; the Modbus cycle polls it.
extern QList<int> modbusAddressList;
