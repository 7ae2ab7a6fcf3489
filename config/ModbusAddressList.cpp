#include "config/ModbusAddressList.h"

QList<int> modbusAddressList;
