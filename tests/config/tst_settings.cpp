// settings.xml: what the loader takes and refuses, the file format, and saves that never break the file.
#include "../common/FileContent.h"
#include "../common/FileSizeLimit.h"
#include "../common/WindowInFolder.h"
#include "config/Settings.h"
#include "core/AlarmThresholds.h"

#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
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
        const Settings::Mqtt& m = s.mqtt(); // the room and the broker, when not the defaults
        const QString x = QStringList{s.roomName(), m.host, m.tlsCa, m.user, m.password, m.topic}.join(',');
        if (x != Settings::defaultRoomName() + ",,,,," || m.enabled || m.haDiscovery || m.port != 1883)
            out << QString("mqtt=%1,%2,%3,").arg(int(m.enabled)).arg(int(m.haDiscovery)).arg(m.port) + x;
        const Settings::ModbusTcp& t = s.modbusTcp();
        if (t.enabled || t.address != "0.0.0.0" || t.port != 1502 || t.unit != 1 || !t.allow.isEmpty())
            out << QString("tcp=%1,%2,%3,%4,%5")
                       .arg(int(t.enabled))
                       .arg(t.address)
                       .arg(t.port)
                       .arg(t.unit)
                       .arg(t.allow);
        const Settings::Mail& m2 = s.mail();
        const QString y = QStringList{m2.url, m2.tlsCa, m2.user, m2.password, m2.from, m2.to}.join(',');
        if (m2.enabled || !m2.starttls || m2.onConfirm || m2.groupSeconds != 60 || y != ",,,,,")
            out << QString("mail=%1%2%3,%4,")
                           .arg(int(m2.enabled))
                           .arg(int(m2.starttls))
                           .arg(int(m2.onConfirm))
                           .arg(m2.groupSeconds) +
                       y;
        if (!s.commLossAlarm() || s.commLossSweeps() != Settings::defaultCommLossSweeps)
            out << QString("comm=%1,%2").arg(int(s.commLossAlarm())).arg(s.commLossSweeps());
        const char* limits[] = {"uHW", "uHE", "uLW", "uLE", "tHW", "tHE", "tLW", "tLE"};
        for (int g = 0; g <= 6; ++g)
            for (int i = 0; i < AbsoluteLimits::count; ++i)
                if (const double v = g ? thresholds.groupLimits[g - 1].value[i] : thresholds.limits.value[i];
                    !std::isnan(v))
                    out << QString("%1%2=%3").arg(limits[i], g ? QString("_%1").arg(g) : QString()).arg(v);
        return out.join(' ');
    }
};

// One element, e.g. el("mode", "true").
QByteArray el(const char* name, const QByteArray& text)
{
    return QByteArray("<") + name + ">" + text + "</" + name + ">";
}
} // namespace

class TestSettings : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { std::signal(SIGXFSZ, SIG_IGN); } // a full disk fails writes with EFBIG
    void load_data()
    {
        QTest::addColumn<QByteArray>("document"); // null: no file at all
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("summary");
        auto row = [](const QString& name, const QByteArray& children, const char* summary, bool ok = true) {
            QTest::newRow(qPrintable(name)) << settingsWith(children) << ok << QString(summary);
        };
        auto raw = [](const char* name, const QByteArray& document, bool ok) {
            QTest::newRow(name) << document << ok << QString();
        };
        const QByteArray tW = "temp_warning_threshold", tE = "temp_emergency_threshold";
        const QByteArray hW = "volt_high_warning_threshold", hE = "volt_high_emergency_threshold";
        const QByteArray lW = "volt_low_warning_threshold", lE = "volt_low_emergency_threshold";
        raw("no file", QByteArray(), false);
        raw("empty file", "", false);
        raw("binary", QByteArray("\x00\xff\xfe\x01garbage", 12), false);
        raw("over 4 MiB", settingsWith(QByteArray(5 * 1024 * 1024, ' ') + el("journal_size", "5")), false);
        raw("other root name, body not read", "<config>" + el("journal_size", "5") + "</config>", true);
        // The thresholds go in pairs: a pair out of order or not positive keeps what was there.
        row("temperature pair in order", el(tW, "3"), "tW=3");
        row("temperature pair out of order", el(tW, "6") + el(tE, "5"), "");
        row("equal temperature pair", el(tW, "5") + el(tE, "5"), "");
        row("negative temperature warning, new emergency", el(tW, "-1") + el(tE, "6"), "tE=6");
        row("negative low warning", el(lW, "-1"), "");
        row("high pair", el(hW, "0.5") + el(hE, "0.8"), "hE=0.8 hW=0.5");
        row("low pair", el(lW, "0.25") + el(lE, "2"), "lE=2 lW=0.25");
        row("garbage puts the candidate back", el(lW, "0.5") + el(lW, "abc") + el(lE, "0.9"), "");
        row("zero emergency", el(hW, "-2") + el(hE, "0"), "");
        // Texts that are no finite number leave the threshold and the journal size as they were.
        for (const char* t : {"nan", "NaN", "inf", "-inf", "1e400", "0x10", "1,5", ""})
            row(QString("not a number: '%1'").arg(t),
                el(tE, t) + el(hE, t) + el("journal_size", t) + el("volt_abs_high_emergency", t) +
                    el("temp_abs_low_warning_3", t),
                "");
        row("-0: the journal's floor", el(hE, "-0") + el("journal_size", "-0"), "j=1");
        row("blanks around 1.5", el(hE, " 1.5 ") + el("journal_size", " 1.5 "), "hE=1.5 j=1.5");
        // Absolute limits: pairs as the thresholds, a group's judged with the installation's.
        const QByteArray uHW = "volt_abs_high_warning", uHE = "volt_abs_high_emergency";
        const QByteArray uLW = "volt_abs_low_warning", uLE = "volt_abs_low_emergency";
        row("limits", el(uHW, "14.4") + el(uHE, "15") + el(uLW, "11") + el(uLE, "10.5"),
            "uHW=14.4 uHE=15 uLW=11 uLE=10.5");
        row("negative voltage limit refused, temperature taken",
            el(uLE, "-1") + el("temp_abs_low_warning", "-5"), "tLW=-5");
        row("swapped limits refused", el(uHW, "15") + el(uHE, "14") + el(uLW, "10") + el(uLE, "11"), "");
        row("group override", el(uHE, "15") + el(uHW + "_2", "14.2") + el(uHW + "_3", "15.5"),
            "uHE=15 uHW_2=14.2");
        row("communication loss", el("comm_loss_alarm", "false") + el("comm_loss_sweeps", "7"), "comm=0,7");
        for (const char* bad : {"0", "101", "x", ""})
            row(QString("sweeps refused: '%1'").arg(bad), el("comm_loss_sweeps", bad), "");
        row("mqtt, bad port and room refused",
            el("room_name", "Ц") + el("room_name", " ") + el("mqtt_enabled", "true") + el("mqtt_host", "h") +
                el("mqtt_port", "8883") + el("mqtt_port", "65536") + el("mqtt_tls_ca", "c") +
                el("mqtt_user", "u") + el("mqtt_password", "p") + el("mqtt_topic", "a/b") +
                el("mqtt_ha_discovery", "true"),
            "mqtt=1,1,8883,Ц,h,c,u,p,a/b");
        row("modbus tcp, bad port and unit refused",
            el("modbus_tcp_enabled", "true") + el("modbus_tcp_address", " ::1 ") +
                el("modbus_tcp_port", "502") + el("modbus_tcp_port", "0") + el("modbus_tcp_unit", "17") +
                el("modbus_tcp_unit", "248") + el("modbus_tcp_allow", "10.1.0.0/16, ::1"),
            "tcp=1,::1,502,17,10.1.0.0/16, ::1");
        row("mail, a bad window refused",
            el("mail_enabled", "true") + el("mail_url", " smtps://r:465 ") + el("mail_starttls", "false") +
                el("mail_tls_ca", "c") + el("mail_user", "u") + el("mail_password", "p") +
                el("mail_from", "f@x") + el("mail_to", "a@x, b@x") + el("mail_group_seconds", "0") +
                el("mail_group_seconds", "601") + el("mail_on_confirm", "true"),
            "mail=101,0,smtps://r:465,c,u,p,f@x,a@x, b@x");
        row("sounds off", el("warning_alarm", "false") + el("emergency_alarm", "false"), "sounds=00");
        row("sounds: only false and true count", el("warning_alarm", "TRUE") + el("warning_alarm", "0"), "");
        row("group of the last battery", "<group_id mkp=\"7\" msd=\"15\">6</group_id>", "g127=6");
        for (const char* bad : {"msd=\"16\" mkp=\"0\">2", "msd=\"0\" mkp=\"8\">2", "msd=\"\" mkp=\"1\">2",
                                "mkp=\"1\">2", "msd=\"1\" mkp=\"1\">7", "msd=\"1\" mkp=\"1\">-1",
                                "msd=\"1\" mkp=\"1\">0x2", "msd=\"99999999999\" mkp=\"1\">2"})
            row(QString("group refused: %1").arg(bad), QByteArray("<group_id ") + bad + "</group_id>", "");
        row("port, mode, addresses",
            el("com_port", "ttyUSB0") + el("mode", "true") + el("ModbusAddr1", "17") +
                el("ModbusAddr6", "x") + el("Dat1", "40") + el("Dat3", "error"),
            "port=ttyUSB0 mode=1 a1=17,40");
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
    void roundTrip() // the saved document element by element, then what a load of it takes
    {
        Record a;
        a.thresholds = {7, 6, 0.9, 0.8, 0.5, 0.4};
        a.settings.setWarningAlarm(false);
        a.settings.setJournalSize(12.5);
        a.settings.setCommLossSweeps(9);
        a.settings.setMqtt({true, "h", 1, "", "u", "secret", "", false}); // the file then its owner's alone
        a.thresholds.limits.value[AbsoluteLimits::TempLowWarning] = -2.5;
        a.thresholds.groupLimits[5].value[AbsoluteLimits::VoltHighEmergency] = 14.75;
        for (int i = 0; i < 128; ++i)
            a.settings.setGroupOf(i / 8, i % 8, i % 7);
        QTemporaryDir own;
        const QString path = own.filePath("trip.xml");
        QVERIFY(a.settings.save(path));
        QCOMPARE(QFile::permissions(path) & 0x0FFF, QFile::ReadUser | QFile::WriteUser);
        const QList<QByteArray> lines = readFile(path).split('\n');
        QCOMPARE(
            lines.mid(0, 5).join('|'),
            "<!DOCTYPE settings>|<settings>| <warning_alarm>false</warning_alarm>| "
            "<emergency_alarm>true</emergency_alarm>| <temp_warning_threshold>6</temp_warning_threshold>");
        QCOMPARE(lines.mid(10, 3).join('|'),
                 " <journal_size>12.5</journal_size>| <com_port></com_port>| <mode>false</mode>");
        // 128 group elements in battery order; the attributes in any order.
        for (int i = 0; i < 128; ++i) {
            const QByteArray line = lines.value(13 + i);
            QVERIFY2(line.startsWith(" <group_id ") &&
                         line.contains(" msd=\"" + QByteArray::number(i / 8) + "\"") &&
                         line.contains(" mkp=\"" + QByteArray::number(i % 8) + "\"") &&
                         line.endsWith(">" + QByteArray::number(i % 7) + "</group_id>"),
                     line.constData());
        }
        // Without a settings page its fields are written as "error".
        QCOMPARE(lines[141] + lines[152], " <ModbusAddr1>error</ModbusAddr1> <Dat6>error</Dat6>");
        // Then communication loss and the limits, the installation's and groups 1..6; off is empty.
        QCOMPARE(lines.mid(153, 4).join('|') + lines[161] + lines[204] + lines[210] + lines[235],
                 " <comm_loss_alarm>true</comm_loss_alarm>| <comm_loss_sweeps>9</comm_loss_sweeps>| "
                 "<volt_abs_high_warning></volt_abs_high_warning>| "
                 "<volt_abs_high_emergency></volt_abs_high_emergency> "
                 "<temp_abs_low_warning>-2.5</temp_abs_low_warning>"
                 " <volt_abs_high_emergency_6>14.75</volt_abs_high_emergency_6>"
                 " <temp_abs_low_emergency_6></temp_abs_low_emergency_6></settings>");
        // The publishing, server and mail elements follow, mail last.
        QCOMPARE(lines[220] + lines[224] + lines[225] + lines[234],
                 " <modbus_tcp_enabled>false</modbus_tcp_enabled> <modbus_tcp_allow></modbus_tcp_allow>"
                 " <mail_enabled>false</mail_enabled> <mail_on_confirm>false</mail_on_confirm>");
        Record b; // limits on before the load: the file's empty elements switch them off
        b.thresholds.limits.value[AbsoluteLimits::VoltLowWarning] = 9;
        b.thresholds.groupLimits[1].value[AbsoluteLimits::TempHighWarning] = 40;
        QVERIFY(b.settings.load(path));
        QCOMPARE(b.summary(), a.summary());
        QVERIFY(b.settings.save(own.filePath("again.xml")));
        QCOMPARE(readFile(own.filePath("again.xml")), readFile(path));
        QVERIFY(!Settings().save(own.filePath("none.xml"))); // without thresholds nothing is written
        b.settings.setJournalSize(7); // a size limit cuts the write short, as a full disk would
        QVERIFY(limitFileSize(1000));
        const bool ok = b.settings.save(path);
        limitFileSize(RLIM_INFINITY);
        QVERIFY(!ok && !b.settings.lastSaveError().isEmpty());
        QCOMPARE(readFile(path), readFile(own.filePath("again.xml"))); // the old file stays whole
        QCOMPARE(QDir(own.path()).entryList(QDir::Files), (QStringList{"again.xml", "trip.xml"}));
    }

private:
    QTemporaryDir dir;
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
