// The monitor driven by the simulator through an alarm storm for a long stretch of sweeps, with
// the sound playing, the operator confirming now and then, and the line vanishing and coming
// back: memory and open descriptors stay flat after the warm-up, the journal rotates at its
// configured size, and every event the window handed over is in the journal files, in order.
//   ORVIK_SOAK_SECONDS  how long to run (default 240)
#include "../common/PulseServer.h"
#include "../common/SimulatedLine.h"
#include "../common/StormSupport.h"
#include "../common/WindowInFolder.h"
#include "app/MainWindowForm.h"
#include "core/AudioSignals.h"
#include "core/Battery.h"
#include "journal/Journal.h"
#include "journal/JournalFormat.h"
#include "link/WorkerObject.h"

#include <QApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryFile>
#include <QtTest>
#include <malloc.h>
#include <mutex>

namespace {

PulseServer pulse;
bool pulseRunning = false;

long residentKiB()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// Bytes the allocator has handed out and not had back, over all its arenas: unlike the
// resident size, it does not count memory the allocator keeps for later.
long heapInUseKiB()
{
    const struct mallinfo2 m = ::mallinfo2();
    return long((m.uordblks + m.hblkhd) / 1024);
}

int openDescriptors()
{
    int n = 0;
    QDirIterator it("/proc/self/fd", QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        ++n;
    }
    return n;
}

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT
private slots:
    void stormForHours();
};

void TestSoak::stormForHours()
{
    const int seconds = qEnvironmentVariableIsSet("ORVIK_SOAK_SECONDS")
                            ? qEnvironmentVariableIntValue("ORVIK_SOAK_SECONDS")
                            : 240;
    SimulatedLine line;
    QVERIFY(line.start(stormOptions()));
    MainWindow::extraComPorts = QStringList{line.link()};
    MainWindow::serialPortTableRoot = line.dir.filePath("no-sysfs");
    // The smallest journal the settings allow, so that it rotates again and again.
    QByteArray xml = everyBatteryGrouped();
    xml.replace("</settings>", " <journal_size>1</journal_size>\n</settings>");
    WindowInFolder folder(xml);
    MainWindow* window = folder.window.get();
    QCOMPARE(window->settingsRecord().journalSize(), 1.0);

    // Every event the window hands over, and each as the journal thread wrote it.
    int handedOver = 0;
    connect(
        window, &MainWindow::addJournalEvent, this,
        [&](Battery*, bool, bool, bool intoFile) { handedOver += intoFile ? 1 : 0; }, Qt::DirectConnection);
    // Kept on disk, not in memory: the soak measures the monitor's heap, not its own.
    QTemporaryFile writtenLog;
    QVERIFY(writtenLog.open());
    std::mutex writtenLock;
    connect(
        window->alarmJournal(), &Journal::updateJournalWidget, this,
        [&](const Event& e) {
            const QByteArray paragraph = JournalFormat::encode(JournalFormat::toHtml(e)) + '\n';
            std::lock_guard<std::mutex> lock(writtenLock);
            writtenLog.write(paragraph);
        },
        Qt::DirectConnection);
    int sweeps = 0;
    connect(&window->nativeWorker(), &WorkerObject::dataArrived, this, [&] { ++sweeps; });
    const QString backup = window->alarmJournal()->backupPath();
    int rotations = 0;
    QDateTime backupTime;

    window->show();
    window->nativeWorker().setPollingPeriod(10);
    window->form()->pb_stop_start->click();
    QVERIFY(window->isNativeRunning());

    struct Sample
    {
        qint64 atMs;
        long rssKiB;
        long heapKiB;
        int fds;
        int events;
    };
    QVector<Sample> samples;
    QElapsedTimer clock;
    clock.start();
    qint64 nextVanish = 30000, nextConfirm = 7000, nextSample = 0;
    int alarmsHeard = 0;
    while (clock.elapsed() < seconds * 1000LL) {
        QTest::qWait(250);
        const qint64 now = clock.elapsed();
        const QDateTime t = QFileInfo(backup).lastModified();
        if (t.isValid() && t != backupTime) {
            backupTime = t;
            ++rotations;
        }
        if (window->soundPlayer()->isPlaying())
            ++alarmsHeard;
        if (now >= nextConfirm) {
            window->form()->pb_confirm_crashes->click();
            nextConfirm = now + 7000;
        }
        if (now >= nextSample) {
            // Taken while the line is up, so that the port's descriptor is always counted.
            samples.append({now, residentKiB(), heapInUseKiB(), openDescriptors(), handedOver});
            nextSample = now + 5000;
        }
        if (now >= nextVanish) {
            line.command("vanish 1");
            nextVanish = now + 30000;
            nextSample = now + 4000;
        }
    }
    window->form()->pb_stop_start->click();
    const int journalEvents = handedOver;
    const QString journalPath = window->alarmJournal()->filePath();
    folder.window.reset(); // the journal writes everything handed over before it stops

    // Flat after the warm-up, which lasts until the journal keeps as many events in memory as
    // it ever will: the samples' spread, not their first value, since the allocator returns
    // memory in its own time.
    int warm = 0;
    while (warm < samples.size() && samples[warm].events < Journal::eventsKept)
        ++warm;
    QVERIFY2(samples.size() - warm >= 5,
             qPrintable(QString("the storm is too weak: %1 events").arg(handedOver)));
    long low = samples[warm].rssKiB, high = low, heapLow = samples[warm].heapKiB, heapHigh = heapLow;
    int fdLow = samples[warm].fds, fdHigh = fdLow;
    QStringList trace;
    for (int i = 0; i < samples.size(); ++i) {
        trace << QString("%1s:%2/%3KiB/%4fd")
                     .arg(samples[i].atMs / 1000)
                     .arg(samples[i].rssKiB)
                     .arg(samples[i].heapKiB)
                     .arg(samples[i].fds);
        if (i < warm)
            continue;
        low = qMin(low, samples[i].rssKiB);
        high = qMax(high, samples[i].rssKiB);
        heapLow = qMin(heapLow, samples[i].heapKiB);
        heapHigh = qMax(heapHigh, samples[i].heapKiB);
        fdLow = qMin(fdLow, samples[i].fds);
        fdHigh = qMax(fdHigh, samples[i].fds);
    }
    qInfo("%d sweeps (%.1f h at the 3 s period), %d events, %d rotations, sound on in %d of the checks",
          sweeps, sweeps * 3.0 / 3600.0, journalEvents, rotations, alarmsHeard);
    qInfo("resident/heap in use/descriptors: %s", qPrintable(trace.join(' ')));
    // The heap must not grow; the resident size may take on what the allocator keeps in
    // reserve (a rotation reads a whole journal), within bounds.
    // Growth over the level at the end of the warm-up; a dip while the line is down is no harm.
    Q_UNUSED(low);
    Q_UNUSED(heapLow);
    QVERIFY2(heapHigh - samples[warm].heapKiB < 1024, qPrintable("heap in use grew: " + trace.join(' ')));
    QVERIFY2(high - samples[warm].rssKiB < 8 * 1024, qPrintable("resident memory grew: " + trace.join(' ')));
    QVERIFY2(fdHigh - fdLow <= 1, qPrintable("descriptors changed: " + trace.join(' ')));
    if (pulseRunning)
        QVERIFY2(alarmsHeard > 0, "the storm was never heard");

    // The files hold the newest events without a gap: the backup's and the journal's
    // paragraphs are the last ones handed over, in order.
    const QList<QByteArray> onDisk = journalParagraphs(backup) + journalParagraphs(journalPath);
    QVERIFY(!onDisk.isEmpty());
    writtenLog.flush();
    writtenLog.seek(0);
    QList<QByteArray> written = writtenLog.readAll().split('\n');
    written.removeLast();
    QCOMPARE(written.size(), handedOver); // none dropped on the way
    QVERIFY2(onDisk.size() <= written.size(), qPrintable(QString::number(onDisk.size())));
    const QList<QByteArray> tail = written.mid(written.size() - onDisk.size());
    for (int i = 0; i < onDisk.size(); ++i)
        QVERIFY2(onDisk[i] == tail[i],
                 qPrintable(QString("paragraph %1 of %2 differs:\n%3\n%4")
                                .arg(i)
                                .arg(onDisk.size())
                                .arg(QString::fromLatin1(onDisk[i]), QString::fromLatin1(tail[i]))));
    if (rotations > 0) {
        // Rotated when the file went past its size, so the backup holds a full journal's worth.
        const qint64 backupSize = QFileInfo(backup).size();
        QVERIFY2(backupSize > 1048576 && backupSize < 1048576 + 4096,
                 qPrintable(QString::number(backupSize)));
        QVERIFY(onDisk.size() <= written.size());
    } else {
        QCOMPARE(onDisk.size(), written.size());
    }
    MainWindow::extraComPorts.clear();
}

int main(int argc, char* argv[])
{
    pulseRunning = pulse.start();
    QApplication app(argc, argv);
    TestSoak test;
    const int rc = QTest::qExec(&test, argc, argv);
    pulse.stop();
    return rc;
}

#include "tst_soak.moc"
