#pragma once

#include "history/HistorySeries.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVector>

// One column of an exported table: its heading and its values by time (milliseconds since
// the epoch). A time the column lacks, or holds NaN for, is an empty cell.
struct HistoryCsvColumn
{
    QString name;
    int decimals = 3;
    QMap<qint64, double> values;
};

// The history as a table a Russian spreadsheet opens as it is: ';' between cells, a decimal
// comma, the time as dd.MM.yyyy hh:mm:ss, UTF-8 with a byte order mark so the headings keep
// their letters. One row per time any column has, oldest first.
class HistoryCsv
{
public:
    static QByteArray format(const QVector<HistoryCsvColumn>& columns, Qt::TimeSpec spec = Qt::LocalTime);
    // Writes through QSaveFile: the file is whole or untouched. `error` says why it failed.
    static bool write(const QString& path, const QVector<HistoryCsvColumn>& columns, QString* error = nullptr,
                      Qt::TimeSpec spec = Qt::LocalTime);

    // A series' means, voltage in millivolts, temperature in tenths; missing points left out.
    static HistoryCsvColumn voltageColumn(const QString& name, const HistorySeries& series);
    static HistoryCsvColumn temperatureColumn(const QString& name, const HistorySeries& series);

    static QString timeText(qint64 msecs, Qt::TimeSpec spec = Qt::LocalTime);
    static QString numberText(double value, int decimals);
    static QString cell(const QString& text);
};
