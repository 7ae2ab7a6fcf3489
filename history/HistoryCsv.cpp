#include "history/HistoryCsv.h"

#include <QDateTime>
#include <QSaveFile>
#include <QSet>
#include <algorithm>
#include <cmath>

namespace {

HistoryCsvColumn columnOf(const QString& name, int decimals, const HistorySeries& series,
                          double HistoryPoint::*value)
{
    HistoryCsvColumn c;
    c.name = name;
    c.decimals = decimals;
    for (const HistoryPoint& p : series.points)
        if (!p.missing && std::isfinite(p.*value))
            c.values.insert(p.msecs, p.*value);
    return c;
}

} // namespace

QString HistoryCsv::timeText(qint64 msecs, Qt::TimeSpec spec)
{
    return QDateTime::fromMSecsSinceEpoch(msecs, spec).toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
}

QString HistoryCsv::numberText(double value, int decimals)
{
    if (!std::isfinite(value))
        return QString();
    QString text = QString::number(value, 'f', decimals);
    // A value that rounds to nothing reads "0,000", not "-0,000".
    if (text.startsWith(QLatin1Char('-')) && text.count(QLatin1Char('0')) == text.size() - 2)
        text.remove(0, 1);
    return text.replace(QLatin1Char('.'), QLatin1Char(','));
}

QString HistoryCsv::cell(const QString& text)
{
    if (!text.contains(QLatin1Char(';')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QByteArray HistoryCsv::format(const QVector<HistoryCsvColumn>& columns, Qt::TimeSpec spec)
{
    QVector<qint64> times;
    for (const HistoryCsvColumn& c : columns)
        for (auto it = c.values.cbegin(); it != c.values.cend(); ++it)
            times.append(it.key());
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());

    QString text;
    text.reserve((times.size() + 1) * (20 + 8 * columns.size()));
    text += QStringLiteral("Время");
    for (const HistoryCsvColumn& c : columns)
        text += QLatin1Char(';') + cell(c.name);
    text += QLatin1String("\r\n");
    for (qint64 t : times) {
        text += timeText(t, spec);
        for (const HistoryCsvColumn& c : columns) {
            text += QLatin1Char(';');
            const auto it = c.values.constFind(t);
            if (it != c.values.cend())
                text += numberText(it.value(), c.decimals);
        }
        text += QLatin1String("\r\n");
    }
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

bool HistoryCsv::write(const QString& path, const QVector<HistoryCsvColumn>& columns, QString* error,
                       Qt::TimeSpec spec)
{
    QSaveFile file(path);
    const QByteArray bytes = format(columns, spec);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

HistoryCsvColumn HistoryCsv::voltageColumn(const QString& name, const HistorySeries& series)
{
    return columnOf(name, 3, series, &HistoryPoint::vMean);
}

HistoryCsvColumn HistoryCsv::temperatureColumn(const QString& name, const HistorySeries& series)
{
    return columnOf(name, 1, series, &HistoryPoint::tMean);
}
