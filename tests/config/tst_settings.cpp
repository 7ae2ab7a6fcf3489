// settings.xml: the loader's rules, the exact file format, and a save that never
// leaves a broken file behind.
#include "config/AlarmThresholds.h"
#include "config/FileNumber.h"
#include "config/Settings.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"

#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>

namespace {
QByteArray wrap(const QByteArray& children)
{
    return "<!DOCTYPE settings>\n<settings>\n" + children + "</settings>\n";
}

struct Loaded
{
    AlarmThresholds thresholds;
    Settings settings;
    bool ok = false;
    Loaded() { settings.setThresholds(&thresholds), settings.reset(); }
};

void writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(data), qint64(data.size()));
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
} // namespace

class TestSettings : public QObject
{
    Q_OBJECT
private slots:
    void init() { QVERIFY(dir.isValid()); }
    void defaults();
    void thresholdPairs_data();
    void thresholdPairs();
    void journalSize_data();
    void journalSize();
    void soundFlags_data();
    void soundFlags();
    void groupIds_data();
    void groupIds();
    void textFields();
    void documentShapes_data();
    void documentShapes();
    void numbersThatAreNot_data();
    void numbersThatAreNot();
    void fileNumbers_data();
    void fileNumbers();
    void savedFormat();
    void roundTrip();
    void saveWithoutThresholdsWritesNothing();
    void failedSaveKeepsOldFile();
    void saveIntoMissingFolderFails();

private:
    Loaded loadText(const QByteArray& data)
    {
        const QString path = dir.filePath("settings.xml");
        writeFile(path, data);
        Loaded l;
        l.ok = l.settings.load(path);
        return l;
    }
    QTemporaryDir dir;
};

void TestSettings::defaults()
{
    Loaded l;
    QVERIFY(!l.settings.load(dir.filePath("absent.xml")));
    QVERIFY(l.settings.warningAlarm());
    QVERIFY(l.settings.emergencyAlarm());
    QCOMPARE(l.thresholds.tempWarning, 4.0);
    QCOMPARE(l.thresholds.tempEmergency, 5.0);
    QCOMPARE(l.thresholds.voltLowWarning, 1.2);
    QCOMPARE(l.thresholds.voltHighEmergency, 1.3);
    QCOMPARE(l.settings.journalSize(), 1.02);
    QVERIFY(!l.settings.isModbusMode());
    QCOMPARE(l.settings.comPort(), QString());
    for (int i = 0; i < 128; ++i)
        QCOMPARE(l.settings.groupOf(i / 8, i % 8), 0);
    QCOMPARE(l.settings.modbusAddr(1), 0);
    QCOMPARE(l.settings.dat(6), 0);
    QCOMPARE(l.settings.modbusAddr(0), -1);
    QCOMPARE(l.settings.dat(7), -1);
    QCOMPARE(l.settings.groupOf(16, 0), 0);
    QVERIFY(!l.settings.setGroupOf(16, 0, 1));
    QVERIFY(!l.settings.setGroupOf(-1, 0, 1));
    QVERIFY(l.settings.setGroupOf(15, 7, 9)); // the number is not checked here
    QCOMPARE(l.settings.groupOf(15, 7), 9);
}

void TestSettings::thresholdPairs_data()
{
    QTest::addColumn<QByteArray>("children");
    QTest::addColumn<QVector<double>>("expected"); // tempW, tempE, lowW, lowE, highW, highE

    const QVector<double> defaults{4, 5, 1.2, 1.3, 1.2, 1.3};
    QTest::newRow("temperature out of order keeps both")
        << QByteArray("<temp_warning_threshold>6</temp_warning_threshold>"
                      "<temp_emergency_threshold>5</temp_emergency_threshold>")
        << defaults;
    QTest::newRow("temperature in order takes both")
        << QByteArray("<temp_warning_threshold>3</temp_warning_threshold>"
                      "<temp_emergency_threshold>5</temp_emergency_threshold>")
        << QVector<double>{3, 5, 1.2, 1.3, 1.2, 1.3};
    QTest::newRow("equal pair keeps both")
        << QByteArray("<temp_warning_threshold>5</temp_warning_threshold>"
                      "<temp_emergency_threshold>5</temp_emergency_threshold>")
        << defaults;
    QTest::newRow("negative temperature warning keeps the old one")
        << QByteArray("<temp_warning_threshold>-1</temp_warning_threshold>"
                      "<temp_emergency_threshold>5</temp_emergency_threshold>")
        << defaults;
    QTest::newRow("negative temperature warning, new emergency")
        << QByteArray("<temp_warning_threshold>-1</temp_warning_threshold>"
                      "<temp_emergency_threshold>6</temp_emergency_threshold>")
        << QVector<double>{4, 6, 1.2, 1.3, 1.2, 1.3};
    QTest::newRow("negative low warning keeps old warning, takes emergency")
        << QByteArray("<volt_low_warning_threshold>-1</volt_low_warning_threshold>"
                      "<volt_low_emergency_threshold>1.3</volt_low_emergency_threshold>")
        << defaults;
    QTest::newRow("high pair taken")
        << QByteArray("<volt_high_warning_threshold>0.5</volt_high_warning_threshold>"
                      "<volt_high_emergency_threshold>0.8</volt_high_emergency_threshold>")
        << QVector<double>{4, 5, 1.2, 1.3, 0.5, 0.8};
    QTest::newRow("garbage resets the candidate to the stored value")
        << QByteArray("<volt_low_warning_threshold>0.5</volt_low_warning_threshold>"
                      "<volt_low_warning_threshold>abc</volt_low_warning_threshold>"
                      "<volt_low_emergency_threshold>0.9</volt_low_emergency_threshold>")
        << defaults; // candidate warning back to 1.2, above 0.9: pair refused
    QTest::newRow("later duplicate wins") << QByteArray("<temp_warning_threshold>2</temp_warning_threshold>"
                                                        "<temp_warning_threshold>3</temp_warning_threshold>")
                                          << QVector<double>{3, 5, 1.2, 1.3, 1.2, 1.3};
    QTest::newRow("zero emergency is not taken")
        << QByteArray("<volt_high_warning_threshold>-2</volt_high_warning_threshold>"
                      "<volt_high_emergency_threshold>0</volt_high_emergency_threshold>")
        << defaults;
}

void TestSettings::thresholdPairs()
{
    QFETCH(QByteArray, children);
    QFETCH(QVector<double>, expected);
    const Loaded l = loadText(wrap(children));
    QVERIFY(l.ok);
    const AlarmThresholds& t = l.thresholds;
    QCOMPARE((QVector<double>{t.tempWarning, t.tempEmergency, t.voltLowWarning, t.voltLowEmergency,
                              t.voltHighWarning, t.voltHighEmergency}),
             expected);
}

void TestSettings::journalSize_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<double>("expected");
    QTest::newRow("below the floor") << QByteArray("0.5") << 1.0;
    QTest::newRow("not a number") << QByteArray("big") << 1.02;
    QTest::newRow("large is taken") << QByteArray("250") << 250.0;
    QTest::newRow("negative") << QByteArray("-3") << 1.0;
    QTest::newRow("blanks around") << QByteArray(" 2.5 ") << 2.5;
    QTest::newRow("comma is not a number here") << QByteArray("2,5") << 1.02;
}

void TestSettings::journalSize()
{
    QFETCH(QByteArray, text);
    QFETCH(double, expected);
    const Loaded l = loadText(wrap("<journal_size>" + text + "</journal_size>"));
    QVERIFY(l.ok);
    QCOMPARE(l.settings.journalSize(), expected);
}

void TestSettings::soundFlags_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("expected");
    QTest::newRow("false") << QByteArray("false") << false;
    QTest::newRow("true") << QByteArray("true") << true;
    QTest::newRow("TRUE leaves") << QByteArray("TRUE") << true;
    QTest::newRow("0 leaves") << QByteArray("0") << true;
    QTest::newRow("empty leaves") << QByteArray("") << true;
}

void TestSettings::soundFlags()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, expected);
    const Loaded l = loadText(
        wrap("<warning_alarm>" + text + "</warning_alarm><emergency_alarm>" + text + "</emergency_alarm>"));
    QCOMPARE(l.settings.warningAlarm(), expected);
    QCOMPARE(l.settings.emergencyAlarm(), expected);
}

void TestSettings::groupIds_data()
{
    QTest::addColumn<QByteArray>("element");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("group");
    QTest::newRow("row 3 first battery")
        << QByteArray("<group_id msd=\"3\" mkp=\"0\">2</group_id>") << 24 << 2;
    QTest::newRow("last battery") << QByteArray("<group_id mkp=\"7\" msd=\"15\">6</group_id>") << 127 << 6;
    QTest::newRow("msd 16") << QByteArray("<group_id msd=\"16\" mkp=\"0\">2</group_id>") << -1 << 0;
    QTest::newRow("mkp 8") << QByteArray("<group_id msd=\"0\" mkp=\"8\">2</group_id>") << -1 << 0;
    QTest::newRow("empty attribute") << QByteArray("<group_id msd=\"\" mkp=\"1\">2</group_id>") << -1 << 0;
    QTest::newRow("missing attribute") << QByteArray("<group_id mkp=\"1\">2</group_id>") << -1 << 0;
    QTest::newRow("group 7") << QByteArray("<group_id msd=\"1\" mkp=\"1\">7</group_id>") << -1 << 0;
    QTest::newRow("negative group") << QByteArray("<group_id msd=\"1\" mkp=\"1\">-1</group_id>") << -1 << 0;
    QTest::newRow("hex text") << QByteArray("<group_id msd=\"1\" mkp=\"1\">0x2</group_id>") << -1 << 0;
    QTest::newRow("huge msd") << QByteArray("<group_id msd=\"99999999999\" mkp=\"1\">2</group_id>") << -1
                              << 0;
    QTest::newRow("case matters") << QByteArray("<Group_id msd=\"1\" mkp=\"1\">2</Group_id>") << -1 << 0;
}

void TestSettings::groupIds()
{
    QFETCH(QByteArray, element);
    QFETCH(int, index);
    QFETCH(int, group);
    const Loaded l = loadText(wrap(element));
    QVERIFY(l.ok);
    for (int i = 0; i < 128; ++i)
        QCOMPARE(l.settings.groupOf(i / 8, i % 8), i == index ? group : 0);
}

void TestSettings::textFields()
{
    const Loaded l = loadText(wrap("<com_port>ttyUSB0</com_port><mode>true</mode>"
                                   "<ModbusAddr1>17</ModbusAddr1><ModbusAddr6>x</ModbusAddr6>"
                                   "<Dat2>40</Dat2><Dat3>error</Dat3><comment>ignored</comment>"));
    QCOMPARE(l.settings.comPort(), QString("ttyUSB0"));
    QVERIFY(l.settings.isModbusMode());
    QCOMPARE(l.settings.modbusAddr(1), 17);
    QCOMPARE(l.settings.modbusAddr(6), 0);
    QCOMPARE(l.settings.dat(2), 40);
    QCOMPARE(l.settings.dat(3), 0);
    const Loaded other = loadText(wrap("<mode>True</mode>"));
    QVERIFY(!other.settings.isModbusMode());
}

void TestSettings::documentShapes_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("ok");
    const QByteArray body = "<journal_size>5</journal_size>";
    QTest::newRow("only the root") << QByteArray("<settings/>") << true;
    QTest::newRow("other root name") << QByteArray("<config>" + body + "</config>") << true;
    QTest::newRow("comment before root")
        << QByteArray("<!-- hi --><settings>" + body + "</settings>") << true;
    QTest::newRow("empty file") << QByteArray() << false;
    QTest::newRow("truncated") << wrap(body).left(40) << false;
    QTest::newRow("binary") << QByteArray("\x00\xff\xfe\x01garbage", 12) << false;
    // Read with replacement characters: a port name that matches no port.
    QTest::newRow("non-UTF-8 text") << QByteArray(
                                           "<settings><com_port>\xcf\xee\xf0\xf2</com_port></settings>")
                                    << true;
    QTest::newRow("over 4 MiB") << wrap(QByteArray(5 * 1024 * 1024, ' ') + body) << false;
}

void TestSettings::documentShapes()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, ok);
    const Loaded l = loadText(data);
    QCOMPARE(l.ok, ok);
    QCOMPARE(l.settings.journalSize(), 1.02); // the body was never read
    QCOMPARE(l.thresholds.tempWarning, 4.0);
}

void TestSettings::numbersThatAreNot_data()
{
    // The text goes into the temperature emergency, the high voltage emergency and the
    // journal size at once; what each ends up as, from defaults 5, 1.3 and 1.02.
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("tempEmergency");
    QTest::addColumn<double>("voltHighEmergency");
    QTest::addColumn<double>("journalSize");
    QTest::newRow("nan") << "nan" << 5.0 << 1.3 << 1.02;
    QTest::newRow("NaN") << "NaN" << 5.0 << 1.3 << 1.02;
    QTest::newRow("inf") << "inf" << 5.0 << 1.3 << 1.02;
    QTest::newRow("-inf") << "-inf" << 5.0 << 1.3 << 1.02;
    QTest::newRow("1e400") << "1e400" << 5.0 << 1.3 << 1.02;
    QTest::newRow("-0") << "-0" << 5.0 << 1.3 << 1.0;
    QTest::newRow("0x10") << "0x10" << 5.0 << 1.3 << 1.02;
    QTest::newRow("blanks around 1.5") << " 1.5 " << 5.0 << 1.5 << 1.5;
    QTest::newRow("comma 1,5") << "1,5" << 5.0 << 1.3 << 1.02;
    QTest::newRow("empty") << "" << 5.0 << 1.3 << 1.02;
    QTest::newRow("ordinary 7") << "7" << 7.0 << 7.0 << 7.0;
    QTest::newRow("ordinary 4.5") << "4.5" << 4.5 << 4.5 << 4.5;
}

void TestSettings::numbersThatAreNot()
{
    QFETCH(QString, text);
    QFETCH(double, tempEmergency);
    QFETCH(double, voltHighEmergency);
    QFETCH(double, journalSize);
    const QByteArray t = text.toUtf8();
    const Loaded l = loadText(wrap(
        "<temp_emergency_threshold>" + t + "</temp_emergency_threshold>" + "<volt_high_emergency_threshold>" +
        t + "</volt_high_emergency_threshold>" + "<journal_size>" + t + "</journal_size>"));
    QVERIFY(l.ok);
    QCOMPARE(l.thresholds.tempEmergency, tempEmergency);
    QCOMPARE(l.thresholds.voltHighEmergency, voltHighEmergency);
    QCOMPARE(l.settings.journalSize(), journalSize);

    // Whatever was read, a battery far past the thresholds in effect is an emergency.
    AlarmThresholds thresholds = l.thresholds;
    BatteryGroup group(1);
    Battery hot(0, 0, 0), cold(1, 0, 1);
    for (Battery* b : {&hot, &cold}) {
        b->setThresholds(&thresholds);
        group.addBattery(b);
        b->setVoltage(12.0);
        b->setTemperature(25.0);
    }
    hot.setTemperature(25.0 + 4 * tempEmergency);
    hot.setVoltage(12.0 + 4 * voltHighEmergency);
    hot.updateState();
    QCOMPARE(hot.tempState(), 3);
    QCOMPARE(hot.voltState(), 3);
}

void TestSettings::fileNumbers_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("4") << 4.0 << "4";
    QTest::newRow("1.2") << 1.2 << "1.2";
    QTest::newRow("1.02") << 1.02 << "1.02";
    QTest::newRow("0.0001") << 0.0001 << "0.0001";
    QTest::newRow("1.5 million") << 1.5e6 << "1.5e+06";
    QTest::newRow("seven digits rounded") << 1.2345678 << "1.23457";
}

void TestSettings::fileNumbers()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(FileNumber::toText(value), text);
    double back = 0;
    QVERIFY(FileNumber::parse(text, &back));
    QCOMPARE(FileNumber::toText(back), text);
}

void TestSettings::savedFormat()
{
    Loaded l;
    l.thresholds.tempWarning = 3.5;
    l.settings.setGroupOf(2, 5, 1);
    const QString path = dir.filePath("saved.xml");
    QVERIFY(l.settings.save(path));
    const QList<QByteArray> lines = readFile(path).split('\n');
    QCOMPARE(lines.value(0), QByteArray("<!DOCTYPE settings>"));
    QCOMPARE(lines.value(1), QByteArray("<settings>"));
    QCOMPARE(lines.value(2), QByteArray(" <warning_alarm>true</warning_alarm>"));
    QCOMPARE(lines.value(4), QByteArray(" <temp_warning_threshold>3.5</temp_warning_threshold>"));
    QCOMPARE(lines.value(10), QByteArray(" <journal_size>1.02</journal_size>"));
    QCOMPARE(lines.value(11), QByteArray(" <com_port></com_port>")); // no window: empty
    QCOMPARE(lines.value(12), QByteArray(" <mode>false</mode>"));
    // 128 group elements in ascending order; attribute order is free.
    int index = 0;
    for (int i = 13; i < 13 + 128; ++i, ++index) {
        const QByteArray line = lines.value(i);
        QVERIFY2(line.startsWith(" <group_id "), line.constData());
        QVERIFY(line.contains("msd=\"" + QByteArray::number(index / 8) + "\""));
        QVERIFY(line.contains("mkp=\"" + QByteArray::number(index % 8) + "\""));
        QVERIFY(line.endsWith(">" + QByteArray::number(index == 21 ? 1 : 0) + "</group_id>"));
    }
    // No settings page exists: its fields are written as "error".
    QCOMPARE(lines.value(141), QByteArray(" <ModbusAddr1>error</ModbusAddr1>"));
    QCOMPARE(lines.value(152), QByteArray(" <Dat6>error</Dat6>"));
    QCOMPARE(lines.value(153), QByteArray("</settings>"));
}

void TestSettings::roundTrip()
{
    Loaded a;
    a.thresholds.tempEmergency = 7;
    a.thresholds.tempWarning = 6;
    a.thresholds.voltHighEmergency = 0.9;
    a.thresholds.voltHighWarning = 0.5;
    a.thresholds.voltLowEmergency = 0.8;
    a.thresholds.voltLowWarning = 0.4;
    a.settings.setWarningAlarm(false);
    a.settings.setJournalSize(12.5);
    for (int i = 0; i < 128; ++i)
        a.settings.setGroupOf(i / 8, i % 8, i % 7);
    const QString path = dir.filePath("trip.xml");
    QVERIFY(a.settings.save(path));

    Loaded b;
    QVERIFY(b.settings.load(path));
    QCOMPARE(b.thresholds.tempEmergency, 7.0);
    QCOMPARE(b.thresholds.tempWarning, 6.0);
    QCOMPARE(b.thresholds.voltHighEmergency, 0.9);
    QCOMPARE(b.thresholds.voltHighWarning, 0.5);
    QCOMPARE(b.thresholds.voltLowEmergency, 0.8);
    QCOMPARE(b.thresholds.voltLowWarning, 0.4);
    QVERIFY(!b.settings.warningAlarm());
    QVERIFY(b.settings.emergencyAlarm());
    QCOMPARE(b.settings.journalSize(), 12.5);
    for (int i = 0; i < 128; ++i)
        QCOMPARE(b.settings.groupOf(i / 8, i % 8), i % 7);
    // Saving the loaded record gives the same bytes.
    const QString again = dir.filePath("again.xml");
    QVERIFY(b.settings.save(again));
    QCOMPARE(readFile(again), readFile(path));
}

void TestSettings::saveWithoutThresholdsWritesNothing()
{
    Settings s;
    const QString path = dir.filePath("none.xml");
    QVERIFY(!s.save(path));
    QVERIFY(!QFile::exists(path));
    QVERIFY(!s.load(path));
}

void TestSettings::failedSaveKeepsOldFile()
{
    // A file-size limit makes the write fail half-way, as a full disk would.
    QTemporaryDir own;
    const QString path = own.filePath("settings.xml");
    const QByteArray old = wrap("<journal_size>7</journal_size>");
    writeFile(path, old);
    Loaded l;
    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tight = saved;
    tight.rlim_cur = 1000;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &tight), 0);
    const bool ok = l.settings.save(path);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    QVERIFY(!ok);
    QVERIFY(!l.settings.lastSaveError().isEmpty());
    QCOMPARE(readFile(path), old);
    QCOMPARE(QDir(own.path()).entryList(QDir::Files), QStringList{"settings.xml"}); // no leftovers
}

void TestSettings::saveIntoMissingFolderFails()
{
    Loaded l;
    QVERIFY(!l.settings.save(dir.filePath("no/such/folder/settings.xml")));
    QVERIFY(!l.settings.lastSaveError().isEmpty());
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
