// The monitor in native mode against the simulator while the line misbehaves: a module that
// answers with noise, late, for another module or not at all loses its data alone; a line that
// vanishes mid-sweep takes every battery to no data and the port is opened again when it comes
// back. No battery ever shows a value the modules did not send.
#include "../common/SimulatedLine.h"
#include "../common/WindowInFolder.h"
#include "app/MainWindowForm.h"
#include "core/Battery.h"
#include "link/WorkerObject.h"

#include <QPushButton>
#include <QtTest>

namespace {

QByteArray groupedSettings()
{
    QByteArray children;
    for (int m = 0; m < 16; ++m)
        for (int p = 0; p < 8; ++p)
            children += QString(" <group_id msd=\"%1\" mkp=\"%2\">%3</group_id>\n")
                            .arg(m)
                            .arg(p)
                            .arg(m / 2 + 1)
                            .toUtf8();
    return settingsWith(children);
}

// What the window showed after each sweep it took in.
struct SweepWatch
{
    QList<QList<Battery*>> rows;
    QVector<bool> moduleHasData = QVector<bool>(16, false);
    int sweeps = 0;
    QStringList implausible;

    void look()
    {
        ++sweeps;
        for (int m = 0; m < 16; ++m) {
            bool all = true;
            for (Battery* b : rows[m]) {
                if (b->hasNoData()) {
                    all = false;
                    continue;
                }
                // The simulator sends 13.5 V ± 0.08 and 24 °C ± 1 (plus a little noise).
                if (qAbs(b->voltage() - 13.5) > 0.2 || qAbs(b->temperature() - 24.0) > 2.0)
                    implausible << QString("sweep %1, %2:%3 %4 V %5 °C")
                                       .arg(sweeps)
                                       .arg(m)
                                       .arg(b->mkpIndex())
                                       .arg(b->voltage())
                                       .arg(b->temperature());
            }
            moduleHasData[m] = all;
        }
    }
    QString missing() const
    {
        QStringList list;
        for (int m = 0; m < 16; ++m)
            if (!moduleHasData[m])
                list << QString::number(m);
        return list.join(',');
    }
};

} // namespace

class TestNativeFaults : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void faultyModules_data();
    void faultyModules();
    void lineVanishesMidSweep();

private:
    void startMonitor(const QStringList& simulatorOptions);
    bool waitForSweeps(int count, int timeoutMs = 20000);

    std::unique_ptr<SimulatedLine> line;
    std::unique_ptr<WindowInFolder> folder;
    SweepWatch watch;
    QStringList messages;
};

void TestNativeFaults::init()
{
    watch = SweepWatch();
    messages.clear();
    MainWindow::showMessage = [this](QMessageBox::Icon, QWidget*, const QString& title, const QString& text) {
        messages << title + " " + text;
    };
}

void TestNativeFaults::cleanup()
{
    folder.reset();
    line.reset();
    MainWindow::extraComPorts.clear();
}

void TestNativeFaults::startMonitor(const QStringList& simulatorOptions)
{
    line = std::make_unique<SimulatedLine>();
    QVERIFY(line->start(QStringList{"--noise", "0"} + simulatorOptions));
    MainWindow::extraComPorts = QStringList{line->link()};
    MainWindow::serialPortTableRoot = line->dir.filePath("no-sysfs");
    folder = std::make_unique<WindowInFolder>(groupedSettings());
    MainWindow* window = folder->window.get();
    watch.rows = window->rows();
    // Queued after the window's own connection: runs once the window has taken the sweep in.
    connect(
        &window->nativeWorker(), &WorkerObject::dataArrived, this,
        [this, window] {
            if (window->isNativeRunning()) // the window ignores sweeps while stopped
                watch.look();
        },
        Qt::QueuedConnection);
    window->show();
    window->nativeWorker().setPollingPeriod(100);
    QTest::mouseClick(window->form()->pb_stop_start, Qt::LeftButton);
    QVERIFY(window->isNativeRunning());
}

bool TestNativeFaults::waitForSweeps(int count, int timeoutMs)
{
    const int target = watch.sweeps + count;
    return QTest::qWaitFor([&] { return watch.sweeps >= target; }, timeoutMs);
}

void TestNativeFaults::faultyModules_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("paced"); // like the wire, or answers at once
    QTest::addColumn<QString>("faulty");
    // A late answer lands in a later module's read window and spoils that one answer too.
    QTest::addColumn<int>("spoiledBesides");
    QTest::newRow("silent") << "silent 5" << false << "5" << 0;
    QTest::newRow("noise ahead of the answer") << "garbage 5" << false << "5" << 0;
    QTest::newRow("noise ahead of the answer, paced") << "garbage 5" << true << "5" << 0;
    QTest::newRow("answer after the read window") << "late 5" << false << "5" << 1;
    QTest::newRow("answer after the read window, paced") << "late 5" << true << "5" << 1;
    QTest::newRow("answering for the next module") << "wrong-number 5" << false << "5" << 0;
    QTest::newRow("bad checksum") << "bad-checksum 5" << false << "5" << 0;
    QTest::newRow("two noisy, one silent") << "garbage 0,15\nsilent 7" << false << "0,7,15" << 0;
    QTest::newRow("every module noisy")
        << "garbage all" << false << "0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15" << 0;
}

void TestNativeFaults::faultyModules()
{
    QFETCH(QString, fault);
    QFETCH(bool, paced);
    QFETCH(QString, faulty);
    QFETCH(int, spoiledBesides);
    startMonitor(paced ? QStringList{} : QStringList{"--no-pacing"});
    if (QTest::currentTestFailed())
        return;
    QVERIFY(QTest::qWaitFor([&] { return watch.missing().isEmpty(); }, 15000));

    const QStringList expected = faulty.split(',');
    const auto judge = [&](QString* why) {
        const QStringList missing = watch.missing().split(',', Qt::SkipEmptyParts);
        int besides = 0;
        for (const QString& m : missing)
            besides += expected.contains(m) ? 0 : 1;
        for (const QString& m : expected)
            if (!missing.contains(m)) {
                *why = "module " + m + " still has data; missing: " + missing.join(',');
                return false;
            }
        if (besides > spoiledBesides) {
            *why = "the fault spread; missing: " + missing.join(',');
            return false;
        }
        return true;
    };
    line->command(fault.toUtf8());
    // The keep rule holds a module's last values through four bad answers.
    QString why;
    QVERIFY2(QTest::qWaitFor([&] { return judge(&why); }, 30000), qPrintable(why));
    // And it stays that way, sweep after sweep.
    for (int i = 0; i < 8; ++i) {
        QVERIFY(waitForSweeps(1));
        QVERIFY2(judge(&why), qPrintable(why));
    }

    line->command("answer all");
    QVERIFY2(QTest::qWaitFor([&] { return watch.missing().isEmpty(); }, 15000),
             qPrintable("still missing: " + watch.missing()));
    QVERIFY2(watch.implausible.isEmpty(), qPrintable(watch.implausible.mid(0, 5).join("; ")));
}

void TestNativeFaults::lineVanishesMidSweep()
{
    startMonitor(QStringList{});
    if (QTest::currentTestFailed())
        return;
    QVERIFY(QTest::qWaitFor([&] { return watch.missing().isEmpty(); }, 15000));
    // Paced, a sweep takes about 660 ms: 300 ms in, the line is half-way through it.
    QVERIFY(waitForSweeps(1));
    QTest::qWait(300);
    line->command("vanish 2");
    const QString everyModule = "0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15";
    QVERIFY2(QTest::qWaitFor([&] { return watch.missing() == everyModule; }, 15000),
             qPrintable("missing: " + watch.missing()));
    QVERIFY(folder->window->isNativeRunning());
    QVERIFY2(QTest::qWaitFor([&] { return watch.missing().isEmpty(); }, 20000),
             qPrintable("still missing: " + watch.missing()));
    QVERIFY2(watch.implausible.isEmpty(), qPrintable(watch.implausible.mid(0, 5).join("; ")));

    // Stop and start again on the returned line.
    QTest::mouseClick(folder->window->form()->pb_stop_start, Qt::LeftButton);
    QVERIFY(!folder->window->isNativeRunning());
    QTest::mouseClick(folder->window->form()->pb_stop_start, Qt::LeftButton);
    QVERIFY2(folder->window->isNativeRunning(), qPrintable(messages.join("; ")));
    QVERIFY(waitForSweeps(2));
    QVERIFY2(watch.missing().isEmpty(), qPrintable("missing after restart: " + watch.missing()));
    QVERIFY2(messages.isEmpty(), qPrintable(messages.join("; ")));
}

QTEST_MAIN(TestNativeFaults)
#include "tst_native_faults.moc"
