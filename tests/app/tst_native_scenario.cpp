// The monitor end to end against the device simulator on a pty: a battery drifts into a
// warning and then an emergency; the operator confirms; the exchange stops.
#include "../common/PulseServer.h"
#include "app/MainWindow.h"
#include "app/MainWindowForm.h"
#include "core/AudioSignals.h"
#include "core/Battery.h"
#include "journal/JournalFormat.h"
#include "widgets/MKPWidget.h"

#include <QApplication>
#include <QComboBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {
PulseServer pulse;
} // namespace

class TestNativeScenario : public QObject
{
    Q_OBJECT
private slots:
    void driftConfirmStop();
};

void TestNativeScenario::driftConfirmStop()
{
    QTemporaryDir dir;
    const QString link = dir.filePath("sim.tty"), control = dir.filePath("control");
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start("/usr/bin/python3", {ORVIK_SOURCE_DIR "/tools/orvik-sim", "--link", link, "--control", control,
                                   "--noise", "0", "--drift-step", "0.7", "--drift-max", "2.0"});
    QVERIFY(sim.waitForStarted());
    QVERIFY(sim.waitForReadyRead(10000));
    auto stopSim = qScopeGuard([&] {
        sim.kill();
        sim.waitForFinished();
    });

    // Group 1 is module 0: battery 3 drifts +0.7 V per sweep, so its deviation from the
    // mean of eight goes 0.61 (normal), 1.23 (warning), 1.75 (emergency).
    QFile settings(dir.filePath("settings.xml"));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    QByteArray xml = "<!DOCTYPE settings>\n<settings>\n";
    for (int p = 0; p < 8; ++p)
        xml += QString(" <group_id msd=\"0\" mkp=\"%1\">1</group_id>\n").arg(p).toUtf8();
    settings.write(xml + "</settings>\n");
    settings.close();

    MainWindow::extraComPorts = QStringList{link};
    MainWindow::serialPortTableRoot = dir.filePath("no-sysfs");
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    auto window = std::make_unique<MainWindow>();
    MainWindow::instance = window.get();
    window->show();
    QCOMPARE(window->form()->cmb_com->currentText(), link);
    window->nativeWorker().setPollingPeriod(600);

    QStringList seen;
    connect(window.get(), &MainWindow::addJournalEvent, [&](Battery* b, bool started, bool confirmed, bool) {
        seen << QString("J%1%2%3").arg(b->id()).arg(started ? "s" : "e").arg(confirmed ? "c" : "");
    });
    connect(window.get(), &MainWindow::startWarningSound, [&] {
        if (!seen.endsWith("W"))
            seen << "W";
    });
    connect(window.get(), &MainWindow::startCrashSound, [&] {
        if (!seen.endsWith("C"))
            seen << "C";
    });
    connect(window.get(), &MainWindow::stopSounds, [&] { seen << "S"; });

    QTest::mouseClick(window->form()->pb_stop_start, Qt::LeftButton);
    QVERIFY(window->isNativeRunning());
    QCOMPARE(window->form()->pb_stop_start->text(), QString("Стоп"));
    QVERIFY(!window->form()->cmb_com->isEnabled());
    Battery* battery = window->rows()[0][3];
    MKPWidget* tile = battery->widget();
    QTRY_COMPARE_WITH_TIMEOUT(battery->state(), 1, 10000);
    QVERIFY(seen.isEmpty());

    QFile fifo(control);
    QVERIFY(fifo.open(QIODevice::WriteOnly));
    fifo.write("drift 0 3 volt\n");
    fifo.close();

    QTRY_COMPARE_WITH_TIMEOUT(battery->state(), 2, 10000);
    QCOMPARE(tile->currentPicture(), MKPWidget::Picture::YellowAnimation);
    QTRY_COMPARE_WITH_TIMEOUT(battery->state(), 3, 10000);
    QCOMPARE(tile->currentPicture(), MKPWidget::Picture::RedAnimation);
    QCOMPARE(seen.join(' '), QString("J3s W J3s C"));
    if (window->soundPlayer()->hasOutput())
        QCOMPARE(window->soundPlayer()->currentSound(), QString("crash.wav"));

    QTest::mouseClick(window->form()->pb_confirm_crashes, Qt::LeftButton);
    QCOMPARE(seen.mid(4).join(' '), QString("J3sc S"));
    QCOMPARE(tile->currentPicture(), MKPWidget::Picture::Red);
    QVERIFY(!window->soundPlayer()->isPlaying());
    // The emergency goes on, confirmed: further sweeps stay quiet.
    const int before = seen.size();
    QTest::qWait(1500);
    QCOMPARE(seen.size(), before);

    QTest::mouseClick(window->form()->pb_stop_start, Qt::LeftButton);
    QVERIFY(!window->isNativeRunning());
    QCOMPARE(window->form()->pb_stop_start->text(), QString("Старт"));
    QVERIFY(window->form()->cmb_com->isEnabled());
    QCOMPARE(battery->state(), 0);
    QCOMPARE(battery->voltage(), 0.0);
    QCOMPARE(tile->currentPicture(), MKPWidget::Picture::Grey);

    MainWindow::instance = nullptr;
    window.reset(); // the journal writes what it was handed before it stops
    QDir::setCurrent(previous);
    MainWindow::extraComPorts.clear();

    // On disk: the warning, the emergency and the confirmation, each with its voltage state.
    QFile journal(dir.filePath("journal.html"));
    QVERIFY(journal.open(QIODevice::ReadOnly));
    const JournalFormat::ReadBack back = JournalFormat::readBack(journal.readAll(), AlarmThresholds(), 1024);
    QCOMPARE(back.events.size(), 3);
    QCOMPARE(back.events[0].voltState(), 2);
    QCOMPARE(back.events[1].voltState(), 3);
    QVERIFY(back.events[2].isConfirmed());
    for (const Event& e : back.events) {
        QCOMPARE(e.msdIndex(), 0);
        QCOMPARE(e.mkpIndex(), 3);
        QVERIFY(e.isStarted());
    }
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
