// The window carries the alarm decisions out: the journal events and sounds of scripted sweeps, in order.
#include "../common/AlarmScripts.h"
#include "../common/PulseServer.h"
#include "../common/WindowInFolder.h"
#include "app/MainWindow.h"
#include "core/AudioSignals.h"
#include "core/Battery.h"
#include <QtTest>

namespace {
PulseServer pulse;

QByteArray settingsXml(const QString& sounds)
{
    QString xml = QString("<warning_alarm>%1</warning_alarm><emergency_alarm>%2</emergency_alarm>")
                      .arg(sounds.contains('W') ? "true" : "false", sounds.contains('C') ? "true" : "false");
    xml += sounds.contains('1') ? "<comm_loss_sweeps>1</comm_loss_sweeps>" : "";
    for (int id = 0; id < 16; ++id)
        xml += QString::asprintf("<group_id msd=\"%d\" mkp=\"%d\">%d</group_id>", id / 8, id % 8, id / 8 + 1);
    return settingsWith(xml.toUtf8());
}
} // namespace

class TestAlarms : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { pulse.start(); }
    void scripts_data() { alarmScriptRows(true); }
    void scripts()
    {
        QFETCH(QString, sounds);
        QFETCH(QString, steps);
        QFETCH(QString, expected);
        WindowInFolder folder(settingsXml(sounds));
        MainWindow* window = folder.window.get();
        if (sounds.contains('P') && !window->soundPlayer()->hasOutput())
            QSKIP(qPrintable("needs an audio server: " + pulse.problem));
        QStringList seen;
        connect(window, &MainWindow::addJournalEvent,
                [&](Battery* b, bool started, bool confirmed, bool save) {
                    QVERIFY(save);
                    seen << QString("J%1%2%3").arg(b->id()).arg(started ? "s" : "e", confirmed ? "c" : "");
                });
        connect(window, &MainWindow::addCommEvent, [&](const Event& e) {
            seen << QString(e.kind() == Event::Kind::CommLost ? "L%1%2" : "B%1%2")
                        .arg(e.msdIndex())
                        .arg(e.isConfirmed() ? "c" : "");
        });
        connect(window, &MainWindow::startWarningSound, [&] { seen << "W"; });
        connect(window, &MainWindow::startCrashSound, [&] { seen << "C"; });
        connect(window, &MainWindow::stopSounds, [&] { seen << "S"; });
        window->setNativeRunning(true);
        for (const QString& step : steps.split('|')) {
            if (step == "C")
                window->on_pb_confirm_crashes_clicked();
            else if (step == "O")
                window->setNativeRunning(false);
            else
                window->dataArrivedHandler(sweepFrom(step));
        }
        QCOMPARE(seen.join(' '), expected);
    }
};

QTEST_MAIN(TestAlarms)
#include "tst_alarms.moc"
