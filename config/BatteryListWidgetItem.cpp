#include "config/BatteryListWidgetItem.h"

#include "config/ProgramMode.h"

BatteryListWidgetItem::BatteryListWidgetItem(int batteryId, int msdIndex, int mkpIndex, QListWidget* list)
    // The text goes in with the item, so a sorting list places it at once.
    : QListWidgetItem(textFor(msdIndex, mkpIndex, modbusMode), list, itemType), m_batteryId(batteryId),
      m_msdIndex(msdIndex), m_mkpIndex(mkpIndex)
{
}

QString BatteryListWidgetItem::textFor(int msdIndex, int mkpIndex, bool modbus)
{
    const QChar zero(QLatin1Char('0'));
    if (modbus)
        return QStringLiteral("Батарея %1").arg(msdIndex * 8 + mkpIndex + 1, 3, 10, zero);
    return QStringLiteral("МСД %1 - МКП %2").arg(msdIndex, 2, 10, zero).arg(mkpIndex + 1, 2, 10, zero);
}
