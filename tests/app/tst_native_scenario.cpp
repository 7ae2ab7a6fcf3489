// The native mode against the simulator: a drift to a confirmed emergency among faulty modules, and
// losses of communication, as shown and journaled.
#include "../common/FileContent.h"
#include "../common/PulseServer.h"
#include "../common/SimulatedLine.h"
#include "../common/WindowInFolder.h"
#include "app/MainWindowForm.h"
#include "app/StatusNotices.h"
#include "core/AudioSignals.h"
#include "journal/JournalFormat.h"
#include "link/WorkerObject.h"
#include "widgets/MKPWidget.h"
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

namespace {
PulseServer pulse; // the warning sound plays on a null sink
} // namespace

class TestNativeScenario : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { pulse.start(); }
    void driftAmongFaultyModules()
    {
        // Groups 1 and 2 are modules 0 and 6; battery 3's deviation goes 0.61, 1.23 (warning), 1.75 V.
        QByteArray xml;
        for (int p = 0; p < 8; ++p)
            xml += QString(" <group_id msd=\"0\" mkp=\"%1\">1</group_id>\n <group_id msd=\"6\" "
                           "mkp=\"%1\">2</group_id>\n")
                       .arg(p)
                       .toUtf8();
        SimulatedLine line;
        QVERIFY(line.start({"--noise",       "0",  "--drift-step",   "0.7", "--drift-max",  "2.0",
                            "--silent",      "3",  "--bad-checksum", "5",   "--bad-header", "9",
                            "--modules",     "14", "--divisor",      "15",  "--volts",      "12.6",
                            "--temperature", "-8"}));
        WindowInFolder folder(settingsWith(xml), {}, line.link());
        MainWindow* window = folder.window.get();
        QStringList messages, implausible;
        QString missing;
        int sweeps = 0;
        MainWindow::showMessage = [&](QMessageBox::Icon, QWidget*, const QString& title,
                                      const QString& text) { messages << title + " " + text; };
        // Queued after the window's own connection: looks once the window has taken the sweep in.
        connect(
            &window->nativeWorker(), &WorkerObject::dataArrived, this,
            [&] {
                QStringList lacking;
                for (int m = 0; m < 16 && window->isNativeRunning(); ++m) {
                    bool none = false;
                    for (Battery* b : window->rows()[m]) {
                        none = none || b->hasNoData();
                        // 12.6 V and -8 °C as sent; module 0 drifts.
                        if (m > 0 && !b->hasNoData() &&
                            (qAbs(b->voltage() - 12.6) > 0.2 || qAbs(b->temperature() + 8) > 2.0))
                            implausible << QString::asprintf("%d:%d %g V %g °C", m, b->mkpIndex(),
                                                             b->voltage(), b->temperature());
                    }
                    lacking << (none ? QString::number(m) : QString());
                }
                missing = lacking.join(',');
                sweeps += window->isNativeRunning();
            },
            Qt::QueuedConnection);
        window->show();
        window->nativeWorker().setPollingPeriod(600);
        QTest::mouseClick(window->form()->pb_stop_start, Qt::LeftButton);
        QVERIFY(window->isNativeRunning() && !window->form()->cmb_com->isEnabled());
        QSignalSpy warnings(window, &MainWindow::startWarningSound),
            crashes(window, &MainWindow::startCrashSound);
        Battery* battery = folder.battery(3);
        MKPWidget* tile = window->tileOf(battery);
        QTRY_COMPARE_WITH_TIMEOUT(battery->state(), 1, 10000);
        QCOMPARE(warnings.count() + crashes.count(), 0);
        const QString faulty = ",,,3,,5,,,,9,,,,,14,15";
        QTRY_COMPARE_WITH_TIMEOUT(missing, faulty, 10000);
        QVERIFY(line.command("drift 0 3 volt"));
        QTRY_COMPARE_WITH_TIMEOUT(battery->state(), 2, 10000);
        QCOMPARE(tile->currentPicture(), MKPWidget::Picture::YellowAnimation);
        QTRY_COMPARE_WITH_TIMEOUT(battery->state(), 3, 10000);
        QCOMPARE(tile->currentPicture(), MKPWidget::Picture::RedAnimation);
        QVERIFY(warnings.count() > 0 && crashes.count() > 0);
        QTest::mouseClick(window->form()->pb_confirm_crashes, Qt::LeftButton);
        QCOMPARE(tile->currentPicture(), MKPWidget::Picture::Red);
        crashes.clear(); // confirmed, the emergency goes on quietly
        QVERIFY(QTest::qWaitFor([&, t = sweeps + 2] { return sweeps >= t; }, 20000));
        QCOMPARE(crashes.count(), 0);
        QCOMPARE(missing, faulty);
        QVERIFY2(messages.isEmpty(), qPrintable(messages.join("; ")));
        QVERIFY2(implausible.isEmpty(), qPrintable(implausible.mid(0, 5).join("; ")));

        QLabel* lossText = window->statusNotices()->label(StatusNotices::CommLoss);
        MKPWidget* lostTile = window->tileOf(folder.battery(48));
        QVERIFY(line.command("silent-for 6 8")); // lost at its third silent sweep, a fourth may be under way
        const int silentFrom = sweeps;
        QTRY_COMPARE_WITH_TIMEOUT(lossText->text(), QString("Нет связи: МСД 06"), 10000);
        QVERIFY2(sweeps - silentFrom <= 4, qPrintable(QString::number(sweeps - silentFrom)));
        QCOMPARE(lossText->styleSheet(), QString("color: red"));
        QCOMPARE(lostTile->currentPicture(), MKPWidget::Picture::NoLinkAnimation);
        QCOMPARE(window->soundPlayer()->currentSound(), QString("warning.wav"));
        QVERIFY(!window->soundPlayer()->hasOutput() || window->soundPlayer()->isPlaying());
        QTest::mouseClick(window->form()->pb_confirm_crashes, Qt::LeftButton);
        QVERIFY(lostTile->currentPicture() == MKPWidget::Picture::NoLink &&
                !window->soundPlayer()->isPlaying());
        QTRY_VERIFY_WITH_TIMEOUT(lossText->isHidden() && !lostTile->isCommLost(), 15000);
        // Bad answers are no answers though kept; a vanished line loses every grouped module.
        QVERIFY(line.command("bad-checksum 6"));
        QTRY_COMPARE_WITH_TIMEOUT(lossText->text(), QString("Нет связи: МСД 06"), 10000);
        QVERIFY(line.command("vanish 1.5"));
        QTRY_COMPARE_WITH_TIMEOUT(lossText->text(), QString("Нет связи: МСД 00, МСД 06"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(lossText->text(), QString("Нет связи: МСД 06"), 10000);

        QTest::mouseClick(window->form()->pb_stop_start, Qt::LeftButton);
        QVERIFY(!window->isNativeRunning() && window->form()->cmb_com->isEnabled());
        QCOMPARE(battery->state(), 0);
        QCOMPARE(battery->voltage(), 0.0);
        QCOMPARE(tile->currentPicture(), MKPWidget::Picture::Grey);
        QVERIFY(lossText->isHidden() && !lostTile->isCommLost()); // cleared without an event
        folder.window.reset(); // the journal writes what it was handed before it stops
        const QByteArray journal = readFile(folder.dir.filePath("journal.html"));
        QStringList events; // the warning, the emergency, the confirmation; L lost, B back
        for (const Event& e : JournalFormat::readBack(journal, AlarmThresholds(), 1024).events)
            events << (e.kind() == Event::Kind::Alarm
                           ? QString::asprintf("%d:%d %d%d%d", int(e.msdIndex()), int(e.mkpIndex()),
                                               int(e.voltState()), int(e.isStarted()), int(e.isConfirmed()))
                           : QString::asprintf("%s%d%s", e.kind() == Event::Kind::CommLost ? "L" : "B",
                                               e.msdIndex(), e.isConfirmed() ? "c" : ""));
        QCOMPARE(events.join(", "), QString("0:3 210, 0:3 310, 0:3 311, L6, L6c, B6, L6, L0, B0, 0:3 310"));
    }
};

QTEST_MAIN(TestNativeScenario)
#include "tst_native_scenario.moc"
