// Alarm evaluation over scripted native sweeps: which journal events and sounds each
// sweep and each confirmation raises, in order.
#include "../common/PulseServer.h"
#include "../common/WindowInFolder.h"
#include "app/MainWindow.h"
#include "core/AudioSignals.h"
#include "core/Battery.h"
#include "widgets/MKPWidget.h"

#include <QApplication>
#include <QtTest>

namespace {
PulseServer pulse;
bool pulseUp = false;

// Group 1 is row 0 (batteries 0..7), group 2 row 1 (8..15); every other battery is in no
// group. In a group of eight a battery x above the others deviates by 7/8 of x:
// +1.4 V is a voltage warning (1.225 V), +2.0 V an emergency (1.75 V); +5 °C a temperature
// warning (4.375), +8 °C an emergency (7.0).
QByteArray settingsXml(bool warningSound, bool crashSound)
{
    QByteArray xml = " <warning_alarm>" + QByteArray(warningSound ? "true" : "false") + "</warning_alarm>\n";
    xml += " <emergency_alarm>" + QByteArray(crashSound ? "true" : "false") + "</emergency_alarm>\n";
    for (int p = 0; p < 8; ++p) {
        xml += QString(" <group_id msd=\"0\" mkp=\"%1\">1</group_id>\n").arg(p).toUtf8();
        xml += QString(" <group_id msd=\"1\" mkp=\"%1\">2</group_id>\n").arg(p).toUtf8();
    }
    return settingsWith(xml);
}

// A sweep from a script such as "v0=14 t3=33 x1": battery 0 at 14 V, battery 3 at 33 °C,
// module 1 silent; every other battery at 12 V and 25 °C.
DevicesGuiData sweepFrom(const QString& script)
{
    DevicesGuiData data;
    for (MsdData& m : data.msd) {
        m.valid = true;
        for (ChannelReading& c : m.channel)
            c = {12.0, 25.0};
    }
    for (const QString& token : script.split(' ', Qt::SkipEmptyParts)) {
        if (token.startsWith('x')) {
            data.msd[token.mid(1).toInt()].valid = false;
            continue;
        }
        const int id = token.mid(1, token.indexOf('=') - 1).toInt();
        const double value = token.mid(token.indexOf('=') + 1).toDouble();
        ChannelReading& c = data.msd[id / 8].channel[id % 8];
        (token.startsWith('v') ? c.voltage : c.temperature) = value;
    }
    return data;
}
} // namespace

class TestAlarms : public QObject
{
    Q_OBJECT
private slots:
    void scripts_data();
    void scripts();
    void stoppedAndConfirmedTiles();
};

void TestAlarms::scripts_data()
{
    // steps: sweeps separated by "|"; "C" confirms, "R" resets every battery (stop).
    // expected: J<battery><s|e>[c] = journal event started/ended [confirmed]; W, C, S = sounds.
    QTest::addColumn<bool>("warningSound");
    QTest::addColumn<bool>("crashSound");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("needsPlayer");

    const struct
    {
        const char* name;
        bool warningSound, crashSound;
        const char *steps, *expected;
        bool needsPlayer;
    } rows[] = {
        {"all normal is silent", true, true, "|", "", false},
        {"warning then emergency", true, true, "v0=13.4|v0=14", "J0s W J0s C", false},
        {"emergency goes on sounding", true, true, "v0=14|v0=14", "J0s C C", false},
        {"group 0 stays silent", true, true, "v40=20 t41=60|v40=20", "", false},
        {"emergency sound off", true, false, "v0=14", "J0s", false},
        {"warning sound off", false, true, "v0=13.4", "J0s", false},
        {"voltage emergency keeps priority over a new warning", true, true, "v0=14|v0=14 t8=30",
         "J0s C C J8s", false},
        {"temperature-only emergency does not block a warning", true, true, "t0=33|t0=33 v8=13.4",
         "J0s C C J8s W", false},
        {"voltage before temperature", true, true, "v0=14 t0=33", "J0s J0s C", false},
        {"confirm journals once, stops twice", true, true, "v0=14|C|C", "J0s C J0sc S S", false},
        {"confirmed emergency stays quiet", true, true, "v0=14|C|v0=14", "J0s C J0sc S", false},
        {"a voltage alarm confirmed sweeps later journals its start", true, true, "v0=14|v0=14|C",
         "J0s C C J0sc S", false},
        {"a temperature alarm confirmed sweeps later journals its start", true, true, "t0=33|t0=33|C",
         "J0s C C J0sc S", false},
        {"both quantities confirmed", true, true, "v0=14 t0=33|C", "J0s J0s C J0sc J0sc S", false},
        {"2 to 2 after confirmation is quiet, then 3 starts again", true, true, "v0=13.4|C|v0=13.4|v0=14",
         "J0s W J0sc S J0s C", false},
        {"silent module raises nothing while silent", true, true, "v0=13.4|x0|x0|v0=13.4", "J0s W W", false},
        {"reset then the same warning journals again", true, true, "v0=13.4|R|v0=13.4", "J0s W J0s W", false},
        {"warning ends and the sound stops", true, true, "v0=13.4|", "J0s W J0e S", true},
        {"emergency falls to warning", true, true, "v0=14|v0=13.4", "J0s C J0e W", false},
    };
    for (const auto& r : rows)
        QTest::newRow(r.name) << r.warningSound << r.crashSound << QString(r.steps) << QString(r.expected)
                              << r.needsPlayer;
}

void TestAlarms::scripts()
{
    QFETCH(bool, warningSound);
    QFETCH(bool, crashSound);
    QFETCH(QString, steps);
    QFETCH(QString, expected);
    QFETCH(bool, needsPlayer);

    WindowInFolder folder(settingsXml(warningSound, crashSound));
    MainWindow* window = folder.window.get();
    if (needsPlayer && !window->soundPlayer()->hasOutput())
        QSKIP(qPrintable("needs an audio server: " + pulse.problem));

    QStringList seen;
    connect(window, &MainWindow::addJournalEvent, [&](Battery* b, bool started, bool confirmed, bool save) {
        QVERIFY(save);
        seen << QString("J%1%2%3").arg(b->id()).arg(started ? "s" : "e").arg(confirmed ? "c" : "");
    });
    connect(window, &MainWindow::startWarningSound, [&] { seen << "W"; });
    connect(window, &MainWindow::startCrashSound, [&] { seen << "C"; });
    connect(window, &MainWindow::stopSounds, [&] { seen << "S"; });

    window->setNativeRunning(true);
    for (const QString& step : steps.split('|')) {
        if (step == "C") {
            window->on_pb_confirm_crashes_clicked();
        } else if (step == "R") {
            for (const auto& row : window->rows())
                for (Battery* b : row)
                    b->reset();
        } else {
            window->dataArrivedHandler(sweepFrom(step));
        }
    }
    QCOMPARE(seen.join(' '), expected);
}

void TestAlarms::stoppedAndConfirmedTiles()
{
    WindowInFolder folder(settingsXml(true, true));
    // Stopped, the window takes no sweep in.
    folder->dataArrivedHandler(sweepFrom("v0=14"));
    QCOMPARE(folder.battery(0)->voltage(), 0.0);
    QCOMPARE(folder.battery(0)->state(), 0);
    folder->setNativeRunning(true);
    folder->dataArrivedHandler(sweepFrom("v0=14"));
    MKPWidget* tile = folder.battery(0)->widget();
    QCOMPARE(tile->currentPicture(), MKPWidget::Picture::RedAnimation);
    folder->on_pb_confirm_crashes_clicked(); // a confirmed tile stops pulsing
    QCOMPARE(tile->currentPicture(), MKPWidget::Picture::Red);
    folder->cleanBatteriesState();
    QCOMPARE(tile->currentPicture(), MKPWidget::Picture::Grey);
    QCOMPARE(folder.battery(0)->voltage(), 14.0); // only the states are cleared
}

int main(int argc, char* argv[])
{
    pulseUp = pulse.start();
    QApplication app(argc, argv);
    TestAlarms test;
    const int rc = QTest::qExec(&test, argc, argv);
    pulse.stop();
    return rc;
}

#include "tst_alarms.moc"
