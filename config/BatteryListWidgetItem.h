#pragma once

#include <QListWidgetItem>

// One battery in a list of the settings page. The text is fixed when the item is made,
// in the style of the mode current then; its leading zeros keep a sorted list in
// battery order.
class BatteryListWidgetItem : public QListWidgetItem
{
public:
    static constexpr int itemType = QListWidgetItem::UserType + 1;

    BatteryListWidgetItem(int batteryId, int msdIndex, int mkpIndex, QListWidget* list);

    int batteryId() const { return m_batteryId; }
    int msdIndex() const { return m_msdIndex; }
    int mkpIndex() const { return m_mkpIndex; }

    // "МСД 03 - МКП 05" in the native mode, "Батарея 029" in the Modbus mode.
    static QString textFor(int msdIndex, int mkpIndex, bool modbus);

private:
    int m_batteryId;
    int m_msdIndex;
    int m_mkpIndex;
};
