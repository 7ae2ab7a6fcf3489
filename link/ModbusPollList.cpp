#include "link/ModbusPollList.h"

QVector<ModbusPollEntry> modbusPollList(const QVector<int>& batteryCounts, const QList<int>& addresses)
{
    QVector<ModbusPollEntry> list;
    int next = 0;
    for (int g = 1; g <= 6 && g < batteryCounts.size(); ++g) {
        if (batteryCounts.at(g) == 0)
            continue;
        if (next >= addresses.size())
            break;
        list.append({g, addresses.at(next++)});
    }
    return list;
}

int modbusPollIndexFrom(const QVector<ModbusPollEntry>& list, int group)
{
    for (int i = 0; i < list.size(); ++i) {
        if (list.at(i).group >= group)
            return i;
    }
    return list.isEmpty() ? -1 : 0;
}
