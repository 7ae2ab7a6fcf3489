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
#include <algorithm>

namespace {
PulseServer pulse;
const QString kEveryModule = "0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15";
} // namespace

class TestNativeScenario : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void driftConfirmStop();
    void faultyLine_data();
    void faultyLine();

private:
    void startMonitor(const QStringList& simulatorOptions, const QByteArray& settings);
    void look();
    QString missing() const;
    bool waitForSweeps(int count)
    {
        return QTest::qWaitFor([&, t = sweeps + count] { return sweeps >= t; }, 20000);
    }

    std::unique_ptr<SimulatedLine> line;
    std::unique_ptr<WindowInFolder> folder;
    QStringList messages, implausible;
    QVector<bool> hasData;
    int sweeps = 0;
    double volts = 13.5, degrees = 24.0;
};

void TestNativeScenario::init()
{
    messages.clear();
    implausible.clear();
    hasData = QVector<bool>(16, false);
    sweeps = 0;
    volts = 13.5;
    degrees = 24.0;
    MainWindow::showMessage = [this](QMessageBox::Icon, QWidget*, const QString& title, const QString& text) {
        messages << title + " " + text;
    };
}

void TestNativeScenario::cleanup()
{
    folder.reset();
    line.reset();
}

void TestNativeScenario::startMonitor(const QStringList& simulatorOptions, const QByteArray& settings)
{
    line = std::make_unique<SimulatedLine>();
    QVERIFY(line->start(QStringList{"--noise", "0"} + simulatorOptions));
    folder = std::make_unique<WindowInFolder>(settings, QMap<QString, QByteArray>{}, line->link());
    MainWindow* window = folder->window.get();
    // Queued after the window's own connection: runs once the window has taken the sweep in.
    connect(
        &window->nativeWorker(), &WorkerObject::dataArrived, this,
        [this, window] {
            if (window->isNativeRunning()) // the window ignores sweeps while stopped
                look();
        },
        Qt::QueuedConnection);
    window->show();
    QCOMPARE(window->form()->cmb_com->currentText(), line->link());
    window->nativeWorker().setPollingPeriod(100);
    QTest::mouseClick(window->form()->pb_stop_start, Qt::LeftButton);
    QVERIFY(window->isNativeRunning());
    QCOMPARE(window->form()->pb_stop_start->text(), QString("Стоп"));
    QVERIFY(!window->form()->cmb_com->isEnabled());
}

// What the window shows after a sweep: which modules have data, and any implausible value.
void TestNativeScenario::look()
{
    ++sweeps;
    for (int m = 0; m < 16; ++m) {
        hasData[m] = true;
        for (Battery* b : folder->window->rows()[m]) {
            hasData[m] = hasData[m] && !b->hasNoData();
            // The simulator sends the mean ± 0.08 V and ± 1 °C.
            if (!b->hasNoData() &&
                (qAbs(b->voltage() - volts) > 0.2 || qAbs(b->temperature() - degrees) > 2.0))
                implausible << QString("sweep %1, %2:%3 %4 V %5 °C")
                                   .arg(sweeps)
                                   .arg(m)
                                   .arg(b->mkpIndex())
                                   .arg(b->voltage())
                                   .arg(b->temperature());
        }
    }
}

QString TestNativeScenario::missing() const
{
    QStringList list;
    for (int m = 0; m < 16; ++m)
        if (!hasData[m])
            list << QString::number(m);
    return list.join(',');
}

void TestNativeScenario::driftConfirmStop()
{
    // Group 1 is module 0: battery 3 drifts +0.7 V per sweep, so its deviation from the
    // mean of eight goes 0.61 (normal), 1.23 (warning), 1.75 (emergency).
    QByteArray xml;
    for (int p = 0; p < 8; ++p)
        xml += QString(" <group_id msd=\"0\" mkp=\"%1\">1</group_id>\n").arg(p).toUtf8();
    startMonitor({"--drift-step", "0.7", "--drift-max", "2.0"}, settingsWith(xml));
    MainWindow* window = folder->window.get();
    window->nativeWorker().setPollingPeriod(600);
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
    QVERIFY(!window->isNativeRunning());
    QCOMPARE(window->form()->pb_stop_start->text(), QString("Старт"));
    QVERIFY(window->form()->cmb_com->isEnabled());
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

void TestNativeScenario::faultyLine_data()
{
    QTest::addColumn<QStringList>("options"); // of the simulator
    QTest::addColumn<QString>("fault");       // sent once every module has data
    QTest::addColumn<QString>("faulty");      // modules that must lose their data
    // A late answer lands in a later module's read window and spoils that one answer too.
    QTest::addColumn<int>("spoiledBesides");
    QTest::addColumn<QString>("error"); // reported by the worker, if any
    const QStringList fast{"--no-pacing"};
    QTest::newRow("frost, divisor 6") << QStringList{"--temperature", "-8", "--divisor", "6"} << ""
                                      << "" << 0 << "";
    QTest::newRow("divisor 15, 12.6 V")
        << QStringList{"--divisor", "15", "--volts", "12.6", "--no-pacing"} << ""
        << "" << 0 << "";
    QTest::newRow("faults from the start")
        << QStringList{"--no-pacing", "--silent",  "3", "--bad-checksum", "5", "--bad-header",
                       "9",           "--modules", "14"}
        << ""
        << "3,5,9,14,15" << 0 << "";
    QTest::newRow("two noisy, one silent") << fast << "garbage 0,15\nsilent 7"
                                           << "0,7,15" << 0 << "";
    QTest::newRow("answer after the read window") << fast << "late 5"
                                                  << "5" << 1 << "";
    QTest::newRow("answering for the next module") << fast << "wrong-number 5"
                                                   << "5" << 0 << "CS msd_number = address, msd 5/fd000006";
    // Paced, a sweep takes about 660 ms: 300 ms in, the line is half-way through it.
    QTest::newRow("line vanishes mid-sweep") << QStringList() << "vanish 2" << kEveryModule << 0 << "";
}

void TestNativeScenario::faultyLine()
{
    QFETCH(QStringList, options);
    QFETCH(QString, fault);
    QFETCH(QString, faulty);
    QFETCH(int, spoiledBesides);
    QFETCH(QString, error);
    const int v = options.indexOf("--volts"), t = options.indexOf("--temperature");
    volts = v < 0 ? 13.5 : options[v + 1].toDouble();
    degrees = t < 0 ? 24.0 : options[t + 1].toDouble();
    startMonitor(options, everyBatteryGrouped());
    if (QTest::currentTestFailed())
        return;
    MainWindow* window = folder->window.get();
    QSignalSpy errors(&window->nativeWorker(), &WorkerObject::comErrorOccured);
    if (!fault.isEmpty()) {
        QVERIFY(QTest::qWaitFor([&] { return missing().isEmpty(); }, 15000));
        QVERIFY(waitForSweeps(1));
        QTest::qWait(300);
        QVERIFY(line->command(fault.toUtf8()));
    }
    QStringList expected = faulty.split(',', Qt::SkipEmptyParts);
    const auto judge = [&](QString* why) {
        const QStringList now = missing().split(',', Qt::SkipEmptyParts);
        int besides = 0;
        for (const QString& m : now)
            besides += expected.contains(m) ? 0 : 1;
        *why = "missing: " + now.join(',');
        return besides <= spoiledBesides && std::all_of(expected.begin(), expected.end(),
                                                        [&](const QString& m) { return now.contains(m); });
    };
    // The keep rule holds a module's last values through four bad answers.
    QString why;
    QVERIFY2(QTest::qWaitFor([&] { return sweeps > 0 && judge(&why); }, 30000), qPrintable(why));
    // And it stays that way, sweep after sweep (a vanished line comes back by itself).
    for (int i = fault.startsWith("vanish") ? 3 : 0; i < 3; ++i) {
        QVERIFY(waitForSweeps(1));
        QVERIFY2(judge(&why), qPrintable(why));
    }
    QVERIFY(window->isNativeRunning());
    if (!error.isEmpty()) {
        QVERIFY(!errors.isEmpty());
        QCOMPARE(QString("%1/%2").arg(errors[0][0].toString()).arg(errors[0][1].toUInt(), 0, 16), error);
    }
    if (!fault.isEmpty()) {
        QVERIFY(line->command("answer all"));
        QVERIFY2(QTest::qWaitFor([&] { return missing().isEmpty(); }, 20000),
                 qPrintable("missing: " + missing()));
        expected.clear();
    }
    // Stop and start again: the line is opened anew.
    QTest::mouseClick(window->form()->pb_stop_start, Qt::LeftButton);
    QVERIFY(!window->isNativeRunning());
    QTest::mouseClick(window->form()->pb_stop_start, Qt::LeftButton);
    QVERIFY2(window->isNativeRunning(), qPrintable(messages.join("; ")));
    QVERIFY(waitForSweeps(1));
    QVERIFY2(judge(&why), qPrintable(why));
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
