#pragma once

#include "FileContent.h"
#include <QList>
#include <QStringList>

// Every battery of the 16 modules grouped, two modules a group, as a settings.xml.
inline QByteArray everyBatteryGrouped()
{
    QByteArray xml = "<!DOCTYPE settings>\n<settings>\n";
    for (int id = 0; id < 128; ++id)
        xml +=
            QString::asprintf(" <group_id msd=\"%d\" mkp=\"%d\">%d</group_id>\n", id / 8, id % 8, id / 16 + 1)
                .toUtf8();
    return xml + "</settings>\n";
}

// Three batteries of every module swing through warning and emergency; the modules answer at once.
inline QStringList stormOptions()
{
    QStringList options{"--no-pacing", "--noise", "0", "--drift-step", "0.8", "--drift-max", "2.4"};
    for (int m = 0; m < 16; ++m)
        for (int p : {1, 4, 6})
            options << "--drift" << QString("%1:%2:swing").arg(m).arg(p);
    return options;
}

// The paragraphs of a journal file, one a line.
inline QList<QByteArray> journalParagraphs(const QString& path)
{
    QList<QByteArray> paragraphs;
    for (const QByteArray& line : readFile(path).split('\n'))
        if (line.startsWith("<p>"))
            paragraphs << line.trimmed();
    return paragraphs;
}
