// The monitor driven by the simulator through an alarm storm for a long stretch of sweeps, with
// the sound playing, the operator confirming now and then, and the line vanishing and coming
// back: memory and open descriptors stay flat after the warm-up, the journal rotates at its
// configured size, and every event the window handed over is in the journal files, in order.
//   ORVIK_SOAK_SECONDS  how long to run (default 60)
#include "../common/PulseServer.h"
#include "../common/SimulatedLine.h"
#include "../common/StormSupport.h"
#include "../common/WindowInFolder.h"
#include "app/MainWindowForm.h"
#include "core/AudioSignals.h"
#include "journal/Journal.h"
#include "journal/JournalFormat.h"
#include "link/WorkerObject.h"

#include <QApplication>
#include <QPushButton>
#include <QTemporaryFile>
#include <QtTest>
#include <malloc.h>
#include <mutex>

namespace {
PulseServer pulse;
bool pulseRunning = false;

int soakSeconds()
{
    return qEnvironmentVariableIsSet("ORVIK_SOAK_SECONDS")
               ? qEnvironmentVariableIntValue("ORVIK_SOAK_SECONDS")
               : 60;
}

struct Sample
{
    qint64 atMs;
    long rssKiB = 0;
    // Bytes the allocator has handed out and not had back, over all its arenas: unlike the
    // resident size, it does not count memory the allocator keeps for later.
    long heapKiB = long((::mallinfo2().uordblks + ::mallinfo2().hblkhd) / 1024);
    int fds = QDir("/proc/self/fd").entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
    int events;
    Sample(qint64 at, int handedOver) : atMs(at), events(handedOver)
    {
        QFile status("/proc/self/status");
        if (status.open(QIODevice::ReadOnly))
            for (const QByteArray& line : status.readAll().split('\n'))
                if (line.startsWith("VmRSS:"))
                    rssKiB = line.mid(6).trimmed().split(' ').first().toLong();
    }
};
} // namespace

class TestSoak : public QObject
{
    Q_OBJECT
private slots:
    void storm();
};

void TestSoak::storm()
{
    SimulatedLine line;
    QVERIFY(line.start(stormOptions()));
    // The smallest journal the settings allow, so that it rotates again and again.
    QByteArray xml = everyBatteryGrouped();
    xml.replace("</settings>", " <journal_size>1</journal_size>\n</settings>");
    WindowInFolder folder(xml, {}, line.link());
    MainWindow* window = folder.window.get();
    QCOMPARE(window->settingsRecord().journalSize(), 1.0);

    // Every event the window hands over, and each as the journal thread wrote it, kept on disk
    // and not in memory: the soak measures the monitor's heap, not its own.
    int handedOver = 0, sweeps = 0, rotations = 0, alarmsHeard = 0;
    connect(
        window, &MainWindow::addJournalEvent, this,
        [&](Battery*, bool, bool, bool intoFile) { handedOver += intoFile; }, Qt::DirectConnection);
    connect(
        window, &MainWindow::addCommEvent, this, [&] { ++handedOver; }, Qt::DirectConnection);
    QTemporaryFile writtenLog;
    QVERIFY(writtenLog.open());
    std::mutex writtenLock;
    connect(
        window->alarmJournal(), &Journal::updateJournalWidget, this,
        [&](const Event& e) {
            std::lock_guard<std::mutex> lock(writtenLock);
            writtenLog.write(JournalFormat::encode(JournalFormat::toHtml(e)) + '\n');
        },
        Qt::DirectConnection);
    connect(&window->nativeWorker(), &WorkerObject::dataArrived, this, [&] { ++sweeps; });
    const QString backup = window->alarmJournal()->backupPath();
    QDateTime backupTime;

    window->show();
    window->nativeWorker().setPollingPeriod(10);
    window->form()->pb_stop_start->click();
    QVERIFY(window->isNativeRunning());
    QVector<Sample> samples;
    QElapsedTimer clock;
    clock.start();
    qint64 nextVanish = 30000, nextConfirm = 7000, nextSample = 0;
    while (clock.elapsed() < soakSeconds() * 1000LL) {
        QTest::qWait(250);
        const qint64 now = clock.elapsed();
        const QDateTime t = QFileInfo(backup).lastModified();
        rotations += t.isValid() && t != backupTime;
        backupTime = t;
        alarmsHeard += window->soundPlayer()->isPlaying();
        if (now >= nextConfirm) {
            window->form()->pb_confirm_crashes->click();
            nextConfirm = now + 7000;
        }
        if (now >= nextSample) { // taken while the line is up, so that its descriptor is counted
            samples.append(Sample(now, handedOver));
            nextSample = now + 2000;
        }
        if (now >= nextVanish) {
            line.command("vanish 1");
            nextVanish = now + 30000;
            nextSample = now + 3000;
        }
    }
    window->form()->pb_stop_start->click();
    const QString journalPath = window->alarmJournal()->filePath();
    folder.window.reset(); // the journal writes everything handed over before it stops

    // Flat after the warm-up, which lasts until the journal keeps as many events in memory as
    // it ever will; measured against the level at its end, since the allocator returns memory
    // in its own time and a dip while the line is down is no harm. A run too short for the
    // warm-up judges the descriptors alone.
    int warm = 0;
    while (warm < samples.size() && samples[warm].events < Journal::eventsKept)
        ++warm;
    const bool warmedUp = samples.size() - warm >= 5;
    if (!warmedUp)
        warm = 1;
    QVERIFY(samples.size() > warm);
    long rssHigh = 0, heapHigh = 0;
    int fdLow = samples[warm].fds, fdHigh = fdLow;
    QStringList trace;
    for (int i = 0; i < samples.size(); ++i) {
        const Sample& s = samples[i];
        trace << QString("%1s:%2/%3KiB/%4fd").arg(s.atMs / 1000).arg(s.rssKiB).arg(s.heapKiB).arg(s.fds);
        if (i >= warm) {
            rssHigh = qMax(rssHigh, s.rssKiB);
            heapHigh = qMax(heapHigh, s.heapKiB);
            fdLow = qMin(fdLow, s.fds);
            fdHigh = qMax(fdHigh, s.fds);
        }
    }
    qInfo("%d sweeps (%.1f h at the 3 s period), %d events, %d rotations, sound on in %d of the checks",
          sweeps, sweeps * 3.0 / 3600.0, handedOver, rotations, alarmsHeard);
    qInfo("resident/heap in use/descriptors: %s", qPrintable(trace.join(' ')));
    // The heap must not grow; the resident size may take on what the allocator keeps in
    // reserve (a rotation reads a whole journal), within bounds.
    if (warmedUp) {
        QVERIFY2(heapHigh - samples[warm].heapKiB < 1024, qPrintable("heap in use grew: " + trace.join(' ')));
        QVERIFY2(rssHigh - samples[warm].rssKiB < 8 * 1024,
                 qPrintable("resident memory grew: " + trace.join(' ')));
    } else {
        qInfo("too short for the memory to settle (%d events, %d kept): memory not judged", handedOver,
              Journal::eventsKept);
    }
    QVERIFY2(fdHigh - fdLow <= 1, qPrintable("descriptors changed: " + trace.join(' ')));
    QVERIFY2(!pulseRunning || alarmsHeard > 0, "the storm was never heard");

    // The files hold the newest events without a gap: the backup's and the journal's
    // paragraphs are the last ones handed over, in order.
    const QList<QByteArray> onDisk = journalParagraphs(backup) + journalParagraphs(journalPath);
    writtenLog.seek(0);
    QList<QByteArray> written = writtenLog.readAll().split('\n');
    written.removeLast();
    QCOMPARE(written.size(), handedOver); // none dropped on the way
    QVERIFY2(!onDisk.isEmpty() && onDisk.size() <= written.size(),
             qPrintable(QString::number(onDisk.size())));
    QCOMPARE(onDisk, written.mid(written.size() - onDisk.size()));
    // Rotated when the file went past its size, so the backup holds a full journal's worth.
    const qint64 backupSize = QFileInfo(backup).size();
    QVERIFY2(rotations > 0 ? backupSize > 1048576 && backupSize < 1048576 + 4096
                           : onDisk.size() == written.size(),
             qPrintable(QString::number(backupSize)));
}

int main(int argc, char* argv[])
{
    // Qt Test would stop the run after five minutes; the soak sets its own limit.
    qputenv("QTEST_FUNCTION_TIMEOUT", QByteArray::number((soakSeconds() + 300) * 1000));
    pulseRunning = pulse.start();
    QApplication app(argc, argv);
    TestSoak test;
    const int rc = QTest::qExec(&test, argc, argv);
    pulse.stop();
    return rc;
}

#include "tst_soak.moc"
