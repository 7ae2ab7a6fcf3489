// An alarm storm for ORVIK_SOAK_SECONDS (60): memory and descriptors stay flat,
// the journal rotates at its size and holds every event handed over, in order.
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

const int soakSeconds = qEnvironmentVariable("ORVIK_SOAK_SECONDS", "60").toInt();

struct Sample
{
    qint64 atMs;
    long rssKiB = 0;
    // Unlike the resident size, not what the allocator keeps for later.
    long heapKiB = long((::mallinfo2().uordblks + ::mallinfo2().hblkhd) / 1024);
    int fds = QDir("/proc/self/fd").entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
    int events;
    Sample(qint64 at, int handedOver) : atMs(at), events(handedOver)
    {
        for (const QByteArray& line : readFile("/proc/self/status").split('\n'))
            if (line.startsWith("VmRSS:"))
                rssKiB = line.mid(6).trimmed().split(' ').first().toLong();
    }
};
} // namespace

class TestSoak : public QObject
{
    Q_OBJECT
private slots:
    void storm()
    {
        QStringList boxes; // a message box would wait for a click that never comes
        MainWindow::showMessage = [&](QMessageBox::Icon, QWidget*, const QString& title,
                                      const QString& text) { boxes << title + ' ' + text; };
        SimulatedLine line;
        QVERIFY(line.start(stormOptions()));
        QByteArray xml = everyBatteryGrouped(); // the smallest journal: it rotates again and again
        xml.replace("</settings>", " <journal_size>1</journal_size>\n</settings>");
        WindowInFolder folder(xml, {}, line.link());
        MainWindow* window = folder.window.get();
        QCOMPARE(window->settingsRecord().journalSize(), 1.0);

        // Logged to a file: the soak measures the monitor's heap, not its own.
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
        while (clock.elapsed() < soakSeconds * 1000LL) {
            QTest::qWait(250);
            const qint64 now = clock.elapsed();
            const QDateTime t = QFileInfo(backup).lastModified();
            rotations += t.isValid() && t != backupTime;
            backupTime = t;
            alarmsHeard += window->soundPlayer()->isPlaying();
            if (now >= nextConfirm)
                window->form()->pb_confirm_crashes->click(), nextConfirm = now + 7000;
            if (now >= nextSample) // while the line is up, so that its descriptor is counted
                samples.append(Sample(now, handedOver)), nextSample = now + 2000;
            if (now >= nextVanish)
                line.command("vanish 1"), nextVanish = now + 30000, nextSample = now + 3000;
        }
        window->form()->pb_stop_start->click();
        QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join('\n')));
        const QString journalPath = window->alarmJournal()->filePath();
        folder.window.reset(); // the journal writes everything handed over before it stops

        // Flat once the journal's memory is full; a shorter run judges descriptors alone.
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
            if (i >= warm)
                rssHigh = qMax(rssHigh, s.rssKiB), heapHigh = qMax(heapHigh, s.heapKiB),
                fdLow = qMin(fdLow, s.fds), fdHigh = qMax(fdHigh, s.fds);
        }
        qInfo("%d sweeps (%.1f h at the 3 s period), %d events, %d rotations, sound "
              "on in %d of the checks",
              sweeps, sweeps * 3.0 / 3600.0, handedOver, rotations, alarmsHeard);
        qInfo("resident/heap in use/descriptors: %s", qPrintable(trace.join(' ')));
        // The resident size may take on the allocator's reserve: a rotation reads a journal.
        QVERIFY2(!warmedUp || heapHigh - samples[warm].heapKiB < 1024,
                 qPrintable("heap grew: " + trace.join(' ')));
        QVERIFY2(!warmedUp || rssHigh - samples[warm].rssKiB < 8 * 1024,
                 qPrintable("resident memory grew: " + trace.join(' ')));
        QVERIFY2(fdHigh - fdLow <= 1, qPrintable("descriptors changed: " + trace.join(' ')));
        QVERIFY2(!pulseRunning || alarmsHeard > 0, "the storm was never heard");

        // The files' paragraphs are the last ones handed over, in order.
        const QList<QByteArray> onDisk = journalParagraphs(backup) + journalParagraphs(journalPath);
        writtenLog.seek(0);
        QList<QByteArray> written = writtenLog.readAll().split('\n');
        written.removeLast();
        QCOMPARE(written.size(), handedOver); // none dropped on the way
        QVERIFY2(!onDisk.isEmpty() && onDisk.size() <= written.size(),
                 qPrintable(QString::number(onDisk.size())));
        QCOMPARE(onDisk, written.mid(written.size() - onDisk.size()));
        // Rotated past its size: the backup holds a full journal's worth.
        const qint64 backupSize = QFileInfo(backup).size();
        QVERIFY2(rotations > 0 ? backupSize > 1048576 && backupSize < 1048576 + 4096
                               : onDisk.size() == written.size(),
                 qPrintable(QString::number(backupSize)));
    }
};

int main(int argc, char* argv[])
{
    qputenv("QTEST_FUNCTION_TIMEOUT",
            QByteArray::number((soakSeconds + 300) * 1000)); // not Qt Test's 5 min
    pulseRunning = pulse.start();
    QApplication app(argc, argv);
    TestSoak test;
    return QTest::qExec(&test, argc, argv); // the server goes with `pulse`
}

#include "tst_soak.moc"
