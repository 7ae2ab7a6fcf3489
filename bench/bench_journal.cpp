// The journal's disk work: an alarm storm into a full journal, the cost of one append as
// the file grows, and the read-back at start-up. Files go to a scratch folder inside the
// current directory, so the syncs reach the disk the program would use.
#include "SampleJournal.h"
#include "config/Settings.h"
#include "core/AlarmThresholds.h"
#include "journal/Journal.h"
#include "journal/JournalFormat.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <unistd.h>

namespace {

using SampleJournal::journalOf;
using SampleJournal::numbered;

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    file.flush();
    ::fsync(file.handle());
}

// A journal with its files in a scratch folder, counting the events it reports written.
class Bench
{
public:
    explicit Bench(double journalSize) : folder(QDir::currentPath() + "/bench_journal-XXXXXX")
    {
        settings.setThresholds(&thresholds);
        settings.reset();
        settings.setJournalSize(journalSize);
    }
    QString journalPath() const { return folder.filePath("journal.html"); }

    void start()
    {
        written = 0;
        journal = std::make_unique<Journal>(&settings, folder.path());
        QObject::connect(
            journal.get(), &Journal::updateJournalWidget, journal.get(),
            [this](const Event&) {
                std::lock_guard<std::mutex> lock(mutex);
                ++written;
                done.notify_all();
            },
            Qt::DirectConnection);
    }
    void stop() { journal.reset(); }
    void waitFor(int count)
    {
        std::unique_lock<std::mutex> lock(mutex);
        done.wait(lock, [&] { return written >= count; });
    }

    QTemporaryDir folder;
    AlarmThresholds thresholds;
    Settings settings;
    std::unique_ptr<Journal> journal;
    std::mutex mutex;
    std::condition_variable done;
    int written = 0;
};

// 256 events at once into a journal of 1 MiB with the default limit (the storm crosses it
// and rotates): time until the last one is on disk.
void BM_StormInto1MiB(benchmark::State& state)
{
    Bench bench(Settings::defaultJournalSize);
    const QByteArray full = journalOf(1048576);
    for (auto _ : state) {
        state.PauseTiming();
        QFile::remove(bench.folder.filePath("journal_bak.html"));
        writeFile(bench.journalPath(), full);
        bench.start();
        state.ResumeTiming();
        for (int n = 0; n < 256; ++n)
            bench.journal->enqueue(numbered(n));
        bench.waitFor(256);
        state.PauseTiming();
        bench.stop();
        state.ResumeTiming();
    }
    state.counters["events"] = 256;
}
BENCHMARK(BM_StormInto1MiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

// One event, handed over and on disk, with the file at the given size.
void BM_OneAppend(benchmark::State& state)
{
    Bench bench(100.0);
    const QByteArray start = journalOf(state.range(0));
    int sinceStart = 0, n = 0;
    writeFile(bench.journalPath(), start);
    bench.start();
    for (auto _ : state) {
        if (sinceStart == 64) { // keep the file near its size
            state.PauseTiming();
            bench.stop();
            writeFile(bench.journalPath(), start);
            bench.start();
            sinceStart = 0;
            state.ResumeTiming();
        }
        bench.journal->enqueue(numbered(n++));
        bench.waitFor(++sinceStart);
    }
    bench.stop();
}
BENCHMARK(BM_OneAppend)
    ->Arg(10 * 1024)
    ->Arg(100 * 1024)
    ->Arg(1024 * 1024)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// For comparison: the whole-file rewrite per event the format was first written with.
void BM_OneWholeRewrite(benchmark::State& state)
{
    QTemporaryDir folder(QDir::currentPath() + "/bench_journal-XXXXXX");
    const QString path = folder.filePath("journal.html");
    writeFile(path, journalOf(state.range(0)));
    const QByteArray paragraph = JournalFormat::encode(JournalFormat::toHtml(numbered(1)));
    for (auto _ : state) {
        QFile file(path);
        file.open(QIODevice::ReadWrite);
        QByteArray kept;
        for (const QByteArray& line : file.readAll().split('\n'))
            if (!line.contains("</body>") && !line.contains("</html>"))
                kept += line + '\n';
        file.resize(0);
        file.write(kept + paragraph + "\n</body>\n</html>");
        file.flush();
        ::fsync(file.handle());
        state.PauseTiming();
        file.close();
        writeFile(path, journalOf(state.range(0)));
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OneWholeRewrite)->Arg(10 * 1024)->Arg(1024 * 1024)->Unit(benchmark::kMillisecond)->UseRealTime();

// Start-up: the journal made on a 1 MiB file (read-back and thread start), and the
// read-back's parsing alone.
void BM_StartWith1MiB(benchmark::State& state)
{
    Bench bench(Settings::defaultJournalSize);
    writeFile(bench.journalPath(), journalOf(1048576));
    for (auto _ : state) {
        bench.start();
        state.PauseTiming();
        bench.stop();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StartWith1MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadBack1MiB(benchmark::State& state)
{
    const QByteArray file = journalOf(1048576);
    const AlarmThresholds thresholds;
    int events = 0;
    for (auto _ : state)
        events = JournalFormat::readBack(file, thresholds, Journal::eventsKept).total;
    state.counters["paragraphs"] = events;
}
BENCHMARK(BM_ReadBack1MiB)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv); // the journal's thread runs an event loop
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
