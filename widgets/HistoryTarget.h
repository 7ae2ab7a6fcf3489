#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// Whose history a window shows: one battery against its group, or a whole group.
struct HistoryTarget
{
    enum class Kind
    {
        Battery,
        Group
    };

    Kind kind = Kind::Battery;
    int battery = -1;         // 0..127, battery mode only
    QString label;            // the battery's, e.g. "Группа 3, МСД 05 : МКП 05"
    int group = 0;            // the group's number
    QVector<int> members;     // the group's battery ids
    QStringList memberLabels; // group mode: one per member

    static HistoryTarget forBattery(int battery, const QString& label, int group,
                                    const QVector<int>& groupMembers)
    {
        HistoryTarget t;
        t.kind = Kind::Battery;
        t.battery = battery;
        t.label = label;
        t.group = group;
        t.members = groupMembers;
        if (!t.members.contains(battery))
            t.members.append(battery);
        return t;
    }

    static HistoryTarget forGroup(int group, const QVector<int>& members, const QStringList& labels)
    {
        HistoryTarget t;
        t.kind = Kind::Group;
        t.group = group;
        t.members = members;
        t.memberLabels = labels;
        for (int i = t.memberLabels.size(); i < members.size(); ++i)
            t.memberLabels.append(QStringLiteral("Батарея %1").arg(members[i]));
        return t;
    }
};
