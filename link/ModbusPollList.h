#pragma once

#include <QList>
#include <QVector>

// One group the Modbus exchange asks: its number and the device address the last apply of
// the settings page took for it.
struct ModbusPollEntry
{
    int group;
    int address;
};

// The groups 1..6 that hold batteries (batteryCounts[g], g < batteryCounts.size()), in group
// order, each paired with its entry of the address list (which holds the addresses of exactly
// those groups, in the same order). Both come from the same apply; should they ever disagree in
// length, the groups without an address are left out rather than asked at another group's
// address.
QVector<ModbusPollEntry> modbusPollList(const QVector<int>& batteryCounts, const QList<int>& addresses);

// The entry of the first group numbered at least `group`, wrapping round to the first entry;
// -1 for an empty list.
int modbusPollIndexFrom(const QVector<ModbusPollEntry>& list, int group);
