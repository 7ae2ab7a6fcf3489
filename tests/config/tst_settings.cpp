// settings.xml: what the loader takes from a document and what it refuses, the exact file
// format, and a save that never leaves a broken file behind.
#include "../common/FileSizeLimit.h"
#include "../common/WindowInFolder.h"
#include "config/AlarmThresholds.h"
#include "config/FileNumber.h"
#include "config/Settings.h"

#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

namespace {
struct Record
{
    AlarmThresholds thresholds;
    Settings settings;
    Record() { settings.setThresholds(&thresholds), settings.reset(); }

    // What differs from a fresh record, e.g. "tW=3 j=2.5 port=ttyUSB0 a1=17 g24=2".
    QString summary() const
    {
        const AlarmThresholds d;
        QStringList out;
        const char* names[] = {"tE", "tW", "hE", "lE", "hW", "lW"};
        double AlarmThresholds::*const fields[] = {
            &AlarmThresholds::tempEmergency,     &AlarmThresholds::tempWarning,
            &AlarmThresholds::voltHighEmergency, &AlarmThresholds::voltLowEmergency,
            &AlarmThresholds::voltHighWarning,   &AlarmThresholds::voltLowWarning};
        for (int i = 0; i < 6; ++i)
            if (!(thresholds.*fields[i] == d.*fields[i]))
                out << QString("%1=%2").arg(names[i]).arg(thresholds.*fields[i]);
        const Settings& s = settings;
        if (!(s.journalSize() == Settings::defaultJournalSize))
            out << QString("j=%1").arg(s.journalSize());
        if (!s.warningAlarm() || !s.emergencyAlarm())
            out << QString("sounds=%1%2").arg(int(s.warningAlarm())).arg(int(s.emergencyAlarm()));
        if (!s.comPort().isEmpty() || s.isModbusMode())
            out << "port=" + s.comPort() << QString("mode=%1").arg(int(s.isModbusMode()));
        for (int g = 1; g <= 6; ++g)
            if (s.modbusAddr(g) || s.dat(g))
                out << QString("a%1=%2,%3").arg(g).arg(s.modbusAddr(g)).arg(s.dat(g));
        for (int i = 0; i < 128; ++i)
            if (s.groupOf(i / 8, i % 8))
                out << QString("g%1=%2").arg(i).arg(s.groupOf(i / 8, i % 8));
        return out.join(' ');
    }
};

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

// The same text in the temperature emergency, the high voltage emergency and the journal size.
QByteArray inThree(const QByteArray& t)
{
    return settingsWith("<temp_emergency_threshold>" + t +
                        "</temp_emergency_threshold><volt_high_emergency_threshold>" + t +
                        "</volt_high_emergency_threshold><journal_size>" + t + "</journal_size>");
}
} // namespace

class TestSettings : public QObject
{
    Q_OBJECT
private slots:
    void load_data()
    {
        QTest::addColumn<QByteArray>("document"); // null: no file at all
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("summary");
        auto row = [](const char* name, const QByteArray& document, bool ok, const char* summary) {
            QTest::newRow(name) << document << ok << QString::fromUtf8(summary);
        };
        auto in = [](const char* children) { return settingsWith(children); };
        const QByteArray body = "<journal_size>5</journal_size>";
        row("no file", QByteArray(), false, "");
        row("empty file", "", false, "");
        row("truncated", settingsWith(body).left(40), false, "");
        row("binary", QByteArray("\x00\xff\xfe\x01garbage", 12), false, "");
        row("over 4 MiB", settingsWith(QByteArray(5 * 1024 * 1024, ' ') + body), false, "");
        row("only the root", "<settings/>", true, "");
        row("other root name", "<config>" + body + "</config>", true, "");
        row("comment before the root", "<!-- hi --><settings>" + body + "</settings>", true, "");
        row("windows-1251 bytes read as UTF-8", "<settings><com_port>\xcf\xee\xf0\xf2</com_port></settings>",
            true, "port=\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd mode=0");
        // Only a document that starts with its root is read: a declaration before it hides the body.
        row("declaration before the root",
            "<?xml version=\"1.0\" "
            "encoding=\"windows-1251\"?><settings><com_port>\xcf\xee</com_port></settings>",
            true, "");
        // The thresholds go in pairs: a pair out of order or not positive keeps what was there.
        row("temperature pair in order", in("<temp_warning_threshold>3</temp_warning_threshold>"), true,
            "tW=3");
        row("temperature pair out of order",
            in("<temp_warning_threshold>6</temp_warning_threshold><temp_emergency_threshold>5</"
               "temp_emergency_threshold>"),
            true, "");
        row("equal temperature pair",
            in("<temp_warning_threshold>5</temp_warning_threshold><temp_emergency_threshold>5</"
               "temp_emergency_threshold>"),
            true, "");
        row("negative temperature warning, new emergency",
            in("<temp_warning_threshold>-1</temp_warning_threshold><temp_emergency_threshold>6</"
               "temp_emergency_threshold>"),
            true, "tE=6");
        row("negative low warning", in("<volt_low_warning_threshold>-1</volt_low_warning_threshold>"), true,
            "");
        row("high pair",
            in("<volt_high_warning_threshold>0.5</volt_high_warning_threshold>"
               "<volt_high_emergency_threshold>0.8</volt_high_emergency_threshold>"),
            true, "hE=0.8 hW=0.5");
        row("low pair",
            in("<volt_low_warning_threshold>0.25</volt_low_warning_threshold>"
               "<volt_low_emergency_threshold>2</volt_low_emergency_threshold>"),
            true, "lE=2 lW=0.25");
        row("garbage puts the candidate back",
            in("<volt_low_warning_threshold>0.5</volt_low_warning_threshold><volt_low_warning_threshold>abc"
               "</volt_low_warning_threshold><volt_low_emergency_threshold>0.9</"
               "volt_low_emergency_threshold>"),
            true, "");
        row("later duplicate wins",
            in("<temp_warning_threshold>2</temp_warning_threshold><temp_warning_threshold>3</"
               "temp_warning_threshold>"),
            true, "tW=3");
        row("zero emergency",
            in("<volt_high_warning_threshold>-2</volt_high_warning_threshold>"
               "<volt_high_emergency_threshold>0</volt_high_emergency_threshold>"),
            true, "");
        // Texts that are no finite number leave all three as they were.
        for (const char* text : {"nan", "NaN", "inf", "-inf", "1e400", "0x10", "1,5", ""})
            row(qPrintable(QString("not a number: '%1'").arg(text)), inThree(text), true, "");
        row("-0: the journal's floor", inThree("-0"), true, "j=1");
        row("blanks around 1.5", inThree(" 1.5 "), true, "hE=1.5 j=1.5");
        row("ordinary 4.5", inThree("4.5"), true, "tE=4.5 hE=4.5 j=4.5");
        row("journal below the floor", in("<journal_size>0.5</journal_size>"), true, "j=1");
        row("journal large", in("<journal_size>250</journal_size>"), true, "j=250");
        row("sounds off", in("<warning_alarm>false</warning_alarm><emergency_alarm>false</emergency_alarm>"),
            true, "sounds=00");
        row("sounds: only false and true count",
            in("<warning_alarm>TRUE</warning_alarm><warning_alarm>0</warning_alarm><emergency_alarm/>"), true,
            "");
        row("group of row 3, first battery", in("<group_id msd=\"3\" mkp=\"0\">2</group_id>"), true, "g24=2");
        row("group of the last battery", in("<group_id mkp=\"7\" msd=\"15\">6</group_id>"), true, "g127=6");
        for (const char* bad : {"msd=\"16\" mkp=\"0\">2", "msd=\"0\" mkp=\"8\">2", "msd=\"\" mkp=\"1\">2",
                                "mkp=\"1\">2", "msd=\"1\" mkp=\"1\">7", "msd=\"1\" mkp=\"1\">-1",
                                "msd=\"1\" mkp=\"1\">0x2", "msd=\"99999999999\" mkp=\"1\">2"})
            row(qPrintable(QString("group refused: %1").arg(bad)),
                settingsWith(QByteArray("<group_id ") + bad + "</group_id>"), true, "");
        row("element names are case-sensitive",
            in("<Group_id msd=\"1\" mkp=\"1\">2</Group_id><Mode>true</Mode>"), true, "");
        row("port, mode, addresses",
            in("<com_port>ttyUSB0</com_port><mode>true</mode><ModbusAddr1>17</ModbusAddr1><ModbusAddr6>x</"
               "ModbusAddr6>"
               "<Dat1>40</Dat1><Dat3>error</Dat3><comment>ignored</comment>"),
            true, "port=ttyUSB0 mode=1 a1=17,40");
        row("mode is true or nothing", in("<mode>True</mode>"), true, "");
    }
    void load()
    {
        QFETCH(QByteArray, document);
        QFETCH(bool, ok);
        QFETCH(QString, summary);
        const QString path = dir.filePath("settings.xml");
        QFile::remove(path);
        QVERIFY(document.isNull() || writeFile(path, document));
        Record r;
        QCOMPARE(r.settings.load(path), ok);
        QCOMPARE(r.summary(), summary);
    }
    void savedFormat()
    {
        Record r;
        r.thresholds.tempWarning = 3.5;
        r.settings.setGroupOf(2, 5, 1);
        const QList<QByteArray> lines = r.settings.toXml().split('\n');
        QCOMPARE(
            lines.mid(0, 5),
            (QList<QByteArray>{"<!DOCTYPE settings>", "<settings>", " <warning_alarm>true</warning_alarm>",
                               " <emergency_alarm>true</emergency_alarm>",
                               " <temp_warning_threshold>3.5</temp_warning_threshold>"}));
        QCOMPARE(lines.mid(10, 3), (QList<QByteArray>{" <journal_size>1.02</journal_size>",
                                                      " <com_port></com_port>", " <mode>false</mode>"}));
        // 128 group elements in battery order; the attributes in any order.
        for (int i = 0; i < 128; ++i) {
            const QByteArray line = lines.value(13 + i);
            QVERIFY2(line.startsWith(" <group_id ") &&
                         line.contains(" msd=\"" + QByteArray::number(i / 8) + "\"") &&
                         line.contains(" mkp=\"" + QByteArray::number(i % 8) + "\"") &&
                         line.endsWith(">" + QByteArray::number(i == 21 ? 1 : 0) + "</group_id>"),
                     line.constData());
        }
        // Without a settings page its fields are written as "error".
        QCOMPARE(lines.value(141), QByteArray(" <ModbusAddr1>error</ModbusAddr1>"));
        QCOMPARE(lines.value(152), QByteArray(" <Dat6>error</Dat6>"));
        QCOMPARE(lines.value(153), QByteArray("</settings>"));
        // Numbers: six significant digits and a full stop, whatever the locale.
        const QPair<double, const char*> numbers[] = {
            {4, "4"}, {1.02, "1.02"}, {0.0001, "0.0001"}, {1.5e6, "1.5e+06"}, {1.2345678, "1.23457"}};
        for (const auto& n : numbers)
            QCOMPARE(FileNumber::toText(n.first), QString(n.second));
    }
    void roundTrip()
    {
        Record a;
        a.thresholds = {7, 6, 0.9, 0.8, 0.5, 0.4};
        a.settings.setWarningAlarm(false);
        a.settings.setJournalSize(12.5);
        for (int i = 0; i < 128; ++i)
            a.settings.setGroupOf(i / 8, i % 8, i % 7);
        const QString path = dir.filePath("trip.xml");
        QVERIFY(a.settings.save(path));
        Record b;
        QVERIFY(b.settings.load(path));
        QCOMPARE(b.summary(), a.summary());
        QVERIFY(b.summary().startsWith("tE=7 tW=6 hE=0.9 lE=0.8 hW=0.5 lW=0.4 j=12.5 sounds=01 g1=1 "));
        // Saving the loaded record gives the same bytes.
        QVERIFY(b.settings.save(dir.filePath("again.xml")));
        QCOMPARE(readFile(dir.filePath("again.xml")), readFile(path));

        // Out of range is refused, and without thresholds nothing is written or read.
        QVERIFY(!b.settings.setGroupOf(16, 0, 1) && !b.settings.setGroupOf(-1, 7, 1));
        QCOMPARE(b.settings.groupOf(16, 0) + b.settings.modbusAddr(0) + b.settings.dat(7), -2);
        Settings none;
        QVERIFY(!none.save(dir.filePath("none.xml")) && !QFile::exists(dir.filePath("none.xml")));
        QVERIFY(!none.load(path));
    }
    void failedSaveKeepsOldFile_data()
    {
        QTest::addColumn<bool>("diskFull");
        QTest::newRow("disk full") << true;
        QTest::newRow("folder missing") << false;
    }
    void failedSaveKeepsOldFile()
    {
        QFETCH(bool, diskFull);
        QTemporaryDir own;
        const QString path = own.filePath(diskFull ? "settings.xml" : "no/such/settings.xml");
        const QByteArray old = settingsWith("<journal_size>7</journal_size>");
        QVERIFY(!diskFull || writeFile(path, old));
        Record r;
        // A file-size limit makes the write fail half-way, as a full disk would.
        auto previous = std::signal(SIGXFSZ, SIG_IGN);
        QVERIFY(!diskFull || limitFileSize(1000));
        const bool ok = r.settings.save(path);
        limitFileSize(RLIM_INFINITY);
        std::signal(SIGXFSZ, previous);
        QVERIFY(!ok);
        QVERIFY(!r.settings.lastSaveError().isEmpty());
        QCOMPARE(readFile(path), diskFull ? old : QByteArray("<missing>"));
        QCOMPARE(QDir(own.path()).entryList(QDir::Files),
                 diskFull ? QStringList{"settings.xml"} : QStringList{});
    }

private:
    QTemporaryDir dir;
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
