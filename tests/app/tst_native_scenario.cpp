// The native mode against the device simulator: a drift to an emergency confirmed, stopped and
// journaled; faulty modules lose their data alone, and no battery shows a value never sent.
#include "../common/PulseServer.h"
#include "../common/SimulatedLine.h"
#include "../common/StormSupport.h"
#include "../common/WindowInFolder.h"
#include "app/MainWindowForm.h"
#include "core/AudioSignals.h"
#include "journal/JournalFormat.h"
#include "link/WorkerObject.h"
#include "widgets/MKPWidget.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QtTest>

namespace {
PulseServer pulse;
} // namespace

class TestNativeScenario : public QObject
{
    Q_OBJECT
private slots:
    void cleanup()
    {
        folder.reset();
        line.reset();
    }
    void driftConfirmStop();
    void faultyModules();

private:
    void startMonitor(const QStringList& simulatorOptions, const QByteArray& settings, int period);
    bool waitForSweeps(int count)
    {
        return QTest::qWaitFor([&, t = sweeps + count] { return sweeps >= t; }, 20000);
    }
    std::unique_ptr<SimulatedLine> line;
    std::unique_ptr<WindowInFolder> folder;
    QStringList messages, implausible;
    QString missing;
    int sweeps = 0;
};

void TestNativeScenario::startMonitor(const QStringList& simulatorOptions, const QByteArray& settings,
                                      int period)
{
    messages.clear();
    implausible.clear();
    line = std::make_unique<SimulatedLine>();
    QVERIFY(line->start(QStringList{"--noise", "0"} + simulatorOptions));
    folder = std::make_unique<WindowInFolder>(settings, QMap<QString, QByteArray>{}, line->link());
    MainWindow* window = folder->window.get();
    MainWindow::showMessage = [this](QMessageBox::Icon, QWidget*, const QString& title, const QString& text) {
        messages << title + " " + text;
    };
    // Queued after the window's own connection: looks once the window has taken the sweep in.
    connect(
        &window->nativeWorker(), &WorkerObject::dataArrived, this,
        [this, window] {
            QStringList lacking;
            for (int m = 0; m < 16 && window->isNativeRunning(); ++m) {
                bool none = false;
                for (Battery* b : window->rows()[m]) {
                    none = none || b->hasNoData();
                    // The simulator sends 12.6 V ± 0.08 V and -8 °C ± 1 °C.
                    if (!b->hasNoData() &&
                        (qAbs(b->voltage() - 12.6) > 0.2 || qAbs(b->temperature() + 8) > 2.0))
                        implausible << QString("%1:%2 %3 V %4 °C")
                                           .arg(m)
                                           .arg(b->mkpIndex())
                                           .arg(b->voltage())
                                           .arg(b->temperature());
                }
                lacking << (none ? QString::number(m) : QString());
            }
            missing = lacking.join(',');
            sweeps += window->isNativeRunning();
        },
        Qt::QueuedConnection);
    window->show();
    QCOMPARE(window->form()->cmb_com->currentText(), line->link());
    window->nativeWorker().setPollingPeriod(period);
    QTest::mouseClick(window->form()->pb_stop_start, Qt::LeftButton);
    QVERIFY(window->isNativeRunning());
    QCOMPARE(window->form()->pb_stop_start->text(), QString("Стоп"));
    QVERIFY(!window->form()->cmb_com->isEnabled());
}

void TestNativeScenario::driftConfirmStop()
{
    // Group 1 is module 0: battery 3 drifts +0.7 V per sweep, so its deviation from the
    // mean of eight goes 0.61 (normal), 1.23 (warning), 1.75 (emergency).
    QByteArray xml;
    for (int p = 0; p < 8; ++p)
        xml += QString(" <group_id msd=\"0\" mkp=\"%1\">1</group_id>\n").arg(p).toUtf8();
    startMonitor({"--drift-step", "0.7", "--drift-max", "2.0"}, settingsWith(xml), 600);
    MainWindow* window = folder->window.get();
    QSignalSpy warnings(window, &MainWindow::startWarningSound),
        crashes(window, &MainWindow::startCrashSound);
    Battery* battery = folder->battery(3);
    MKPWidget* tile = battery->widget();
    QTRY_COMPARE_WITH_TIMEOUT(battery->state(), 1, 10000);
    QCOMPARE(warnings.count() + crashes.count(), 0);

    QVERIFY(line->command("drift 0 3 volt"));
    QTRY_COMPARE_WITH_TIMEOUT(battery->state(), 2, 10000);
    QCOMPARE(tile->currentPicture(), MKPWidget::Picture::YellowAnimation);
    QTRY_COMPARE_WITH_TIMEOUT(battery->state(), 3, 10000);
    QCOMPARE(tile->currentPicture(), MKPWidget::Picture::RedAnimation);
    QVERIFY(warnings.count() > 0 && crashes.count() > 0);
    if (window->soundPlayer()->hasOutput())
        QCOMPARE(window->soundPlayer()->currentSound(), QString("crash.wav"));

    QTest::mouseClick(window->form()->pb_confirm_crashes, Qt::LeftButton);
    QCOMPARE(tile->currentPicture(), MKPWidget::Picture::Red);
    QVERIFY(!window->soundPlayer()->isPlaying());
    crashes.clear(); // confirmed, the emergency goes on quietly
    QVERIFY(waitForSweeps(2));
    QCOMPARE(crashes.count(), 0);

    QTest::mouseClick(window->form()->pb_stop_start, Qt::LeftButton);
    QVERIFY(!window->isNativeRunning() && window->form()->cmb_com->isEnabled());
    QCOMPARE(battery->state(), 0);
    QCOMPARE(battery->voltage(), 0.0);
    QCOMPARE(tile->currentPicture(), MKPWidget::Picture::Grey);
    const QString journalPath = folder->dir.filePath("journal.html");
    folder->window.reset(); // the journal writes what it was handed before it stops

    QFile journal(journalPath);
    QVERIFY(journal.open(QIODevice::ReadOnly));
    const JournalFormat::ReadBack back = JournalFormat::readBack(journal.readAll(), AlarmThresholds(), 1024);
    QStringList events; // the warning, the emergency, the confirmation
    for (const Event& e : back.events)
        events << QString("%1:%2 %3%4%5")
                      .arg(e.msdIndex())
                      .arg(e.mkpIndex())
                      .arg(e.voltState())
                      .arg(e.isStarted())
                      .arg(e.isConfirmed());
    QCOMPARE(events.join(", "), QString("0:3 210, 0:3 310, 0:3 311"));
}

void TestNativeScenario::faultyModules()
{
    // Silent, a bad checksum, a bad header, absent: those modules alone have no data, through
    // every sweep and a stop and start that opens the line anew.
    const QString faulty = ",,,3,,5,,,,9,,,,,14,15";
    startMonitor({"--no-pacing", "--silent", "3", "--bad-checksum", "5", "--bad-header", "9", "--modules",
                  "14", "--divisor", "15", "--volts", "12.6", "--temperature", "-8"},
                 everyBatteryGrouped(), 100);
    MainWindow* window = folder->window.get();
    QVERIFY2(QTest::qWaitFor([&] { return missing == faulty; }, 20000), qPrintable(missing));
    for (int i = 0; i < 3; ++i)
        QVERIFY2(waitForSweeps(1) && missing == faulty, qPrintable(missing));
    QTest::mouseClick(window->form()->pb_stop_start, Qt::LeftButton);
    QVERIFY(!window->isNativeRunning());
    QTest::mouseClick(window->form()->pb_stop_start, Qt::LeftButton);
    QVERIFY2(waitForSweeps(2) && missing == faulty, qPrintable(missing));
    QVERIFY2(messages.isEmpty(), qPrintable(messages.join("; ")));
    QVERIFY2(implausible.isEmpty(), qPrintable(implausible.mid(0, 5).join("; ")));
}

int main(int argc, char* argv[])
{
    pulse.start();
    QApplication app(argc, argv);
    TestNativeScenario test;
    const int rc = QTest::qExec(&test, argc, argv);
    pulse.stop();
    return rc;
}

#include "tst_native_scenario.moc"
