// The history table written to a file and read back as a spreadsheet would: the header,
// one row per time in order, a decimal comma, empty cells where a column has no value.
#include "history/HistoryCsv.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

namespace {

using Table = QVector<QStringList>;

// Splits the file as a spreadsheet reads it: ';' between cells, "" inside quotes.
Table readBack(const QString& path, bool* hadBom)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = file.readAll();
    *hadBom = bytes.startsWith("\xEF\xBB\xBF");
    if (*hadBom)
        bytes.remove(0, 3);
    const QString text = QString::fromUtf8(bytes);
    Table rows;
    QStringList row;
    QString cell;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
                cell += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                cell += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(';')) {
            row.append(cell);
            cell.clear();
        } else if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n')) {
            row.append(cell);
            rows.append(row);
            row.clear();
            cell.clear();
            ++i;
        } else {
            cell += c;
        }
    }
    if (!cell.isEmpty() || !row.isEmpty())
        rows.append(row << cell); // a last line without its end: the test sees it as wrong
    return rows;
}

qint64 at(const char* text)
{
    QDateTime t = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
    t.setTimeSpec(Qt::UTC);
    return t.toMSecsSinceEpoch();
}

HistoryCsvColumn column(const QString& name, int decimals, const QVector<QPair<qint64, double>>& values)
{
    HistoryCsvColumn c;
    c.name = name;
    c.decimals = decimals;
    for (const auto& v : values)
        c.values.insert(v.first, v.second);
    return c;
}

} // namespace

Q_DECLARE_METATYPE(QVector<HistoryCsvColumn>)

class TestHistoryCsv : public QObject
{
    Q_OBJECT
private slots:
    void writtenAndReadBack_data();
    void writtenAndReadBack();
    void seriesColumns();
    void unwritableFolder();
};

void TestHistoryCsv::writtenAndReadBack_data()
{
    QTest::addColumn<QVector<HistoryCsvColumn>>("columns");
    QTest::addColumn<Table>("expected"); // without the header's time cell

    const qint64 t1 = at("2026-03-01T10:00:00");
    const qint64 t2 = at("2026-03-01T10:00:03");
    const qint64 t3 = at("2026-03-01T10:01:00");

    QTest::newRow("two batteries, same times")
        << QVector<HistoryCsvColumn>{column("Группа 3, МСД 05 : МКП 05, В", 3, {{t1, 13.5}, {t2, 13.512}}),
                                     column("Среднее по группе, В", 3, {{t1, 13.4004}, {t2, 13.4006}})}
        << Table{{"Группа 3, МСД 05 : МКП 05, В", "Среднее по группе, В"},
                 {"01.03.2026 10:00:00", "13,500", "13,400"},
                 {"01.03.2026 10:00:03", "13,512", "13,401"}};
    QTest::newRow("a time one battery has and the other lacks")
        << QVector<HistoryCsvColumn>{column("A, В", 3, {{t1, 12.0}, {t3, 12.25}}),
                                     column("B, В", 3, {{t2, 11.0}})}
        << Table{{"A, В", "B, В"},
                 {"01.03.2026 10:00:00", "12,000", ""},
                 {"01.03.2026 10:00:03", "", "11,000"},
                 {"01.03.2026 10:01:00", "12,250", ""}};
    QTest::newRow("inserted out of order, written oldest first")
        << QVector<HistoryCsvColumn>{column("A, °C", 1, {{t3, 25.0}, {t1, 24.0}, {t2, 24.5}})}
        << Table{{"A, °C"},
                 {"01.03.2026 10:00:00", "24,0"},
                 {"01.03.2026 10:00:03", "24,5"},
                 {"01.03.2026 10:01:00", "25,0"}};
    QTest::newRow("not a number is an empty cell, a gap is a gap")
        << QVector<HistoryCsvColumn>{column("A, В", 3, {{t1, 13.1}, {t2, qQNaN()}, {t3, 13.3}}),
                                     column("B, °C", 1, {{t1, -5.25}, {t2, -0.04}, {t3, 0.0}})}
        << Table{{"A, В", "B, °C"},
                 {"01.03.2026 10:00:00", "13,100", "-5,3"},
                 {"01.03.2026 10:00:03", "", "0,0"},
                 {"01.03.2026 10:01:00", "13,300", "0,0"}};
    QTest::newRow("a heading with the separator and quotes in it")
        << QVector<HistoryCsvColumn>{column("МСД 1; \"левый\"", 3, {{t1, 1.0}})}
        << Table{{"МСД 1; \"левый\""}, {"01.03.2026 10:00:00", "1,000"}};
    QTest::newRow("nothing to show: the header alone")
        << QVector<HistoryCsvColumn>{column("A, В", 3, {})} << Table{{"A, В"}};
}

void TestHistoryCsv::writtenAndReadBack()
{
    QFETCH(QVector<HistoryCsvColumn>, columns);
    QFETCH(Table, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath("история.csv");
    QString error;
    QVERIFY2(HistoryCsv::write(path, columns, &error, Qt::UTC), qPrintable(error));

    bool bom = false;
    const Table rows = readBack(path, &bom);
    QVERIFY(bom);
    QCOMPARE(rows.size(), expected.size());
    QCOMPARE(rows[0].value(0), QStringLiteral("Время"));
    QCOMPARE(rows[0].mid(1), expected[0]);
    for (int i = 1; i < rows.size(); ++i) {
        QCOMPARE(rows[i].size(), columns.size() + 1);
        QCOMPARE(rows[i], expected[i]);
    }
}

void TestHistoryCsv::seriesColumns()
{
    // Missing points of a series leave no value behind, so their cells stay empty.
    HistorySeries s;
    s.battery = 7;
    const qint64 t0 = at("2026-03-01T00:00:00");
    for (int i = 0; i < 4; ++i) {
        HistoryPoint p;
        p.msecs = t0 + i * 60000;
        p.missing = i == 2;
        p.vMean = p.missing ? qQNaN() : 13.0 + 0.1 * i;
        p.tMean = p.missing ? qQNaN() : 21.0 + i;
        s.points.append(p);
    }
    const HistoryCsvColumn v = HistoryCsv::voltageColumn("V", s);
    const HistoryCsvColumn t = HistoryCsv::temperatureColumn("T", s);
    QCOMPARE(v.values.keys(), (QList<qint64>{t0, t0 + 60000, t0 + 180000}));
    QCOMPARE(t.values.keys(), v.values.keys());
    QCOMPARE(HistoryCsv::numberText(v.values.value(t0 + 180000), v.decimals), QStringLiteral("13,300"));
    QCOMPARE(HistoryCsv::numberText(t.values.value(t0 + 180000), t.decimals), QStringLiteral("24,0"));
}

void TestHistoryCsv::unwritableFolder()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("нет такой папки/история.csv");
    QString error;
    QVERIFY(!HistoryCsv::write(path, {column("A", 3, {{0, 1.0}})}, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!QFile::exists(path));
}

QTEST_GUILESS_MAIN(TestHistoryCsv)
#include "tst_history_csv.moc"
