// Fills a scratch history with a day of one group of eight, one battery drifting upwards
// through the afternoon and another silent for an hour, and saves pictures of the battery
// window and the group window, as they open on a 1366 x 768 screen, for the documentation.
//   orvik-history-shot <battery.png> <group.png>
#include "history/HistoryRecorder.h"
#include "history/HistoryTime.h"
#include "widgets/HistoryWindow.h"

#include <QApplication>
#include <QFileInfo>
#include <QFontDatabase>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>

namespace {

const QVector<int> members{16, 17, 18, 19, 20, 21, 22, 23};
const int drifting = 19;
const int silent = 22;
const qint64 sweepMs = 10000; // a day at the usual 3 s would only take longer to fill

QString memberLabel(int id)
{
    return QStringLiteral("МСД %1 : МКП %2")
        .arg(id / 8, 2, 10, QLatin1Char('0'))
        .arg(id % 8 + 1, 2, 10, QLatin1Char('0'));
}

HistorySweep sweepAt(qint64 t, qint64 start)
{
    const double hours = double(t - start) / HistoryTime::hour;
    HistorySweep s;
    s.msecsSinceEpoch = t;
    for (int id : members) {
        HistoryReading r;
        r.battery = id;
        // A slow charge and rest cycle shared by the group, a little scatter of each battery.
        r.voltage = 13.4 + 0.25 * std::sin(hours / 24.0 * 2 * M_PI) + 0.04 * std::sin(id * 1.3) +
                    0.01 * std::sin(t / 60000.0 + id);
        r.temperature = 23.0 + 1.5 * std::sin((hours - 6) / 24.0 * 2 * M_PI) + 0.3 * std::cos(id * 0.7);
        if (id == drifting && hours > 12) {
            r.voltage += 0.12 * (hours - 12);
            r.temperature += 0.45 * (hours - 12);
        }
        r.missing = id == silent && hours > 7 && hours < 8;
        s.readings.append(r);
    }
    return s;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <battery.png> <group.png>\n", argv[0]);
        return 2;
    }
    if (QFontDatabase().families().isEmpty()) {
        std::fprintf(stderr, "no font found: the pictures would have no text\n");
        return 1;
    }
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return 1;
    const QString path = scratch.filePath(QStringLiteral("history.sqlite"));
    const QDateTime nowTime = QDateTime::fromString(QStringLiteral("2026-03-01T18:00:00"), Qt::ISODate);
    const qint64 now = nowTime.toMSecsSinceEpoch();
    const qint64 start = now - HistoryTime::day;
    {
        HistoryRecorder recorder(
            path, [now] { return now; }, HistoryRecorder::Options());
        int n = 0;
        for (qint64 t = start; t < now; t += sweepMs) {
            recorder.record(sweepAt(t, start));
            if (++n % 500 == 0 && !recorder.waitUntilWritten(30000))
                return 1;
        }
        if (!recorder.waitUntilIdle(120000))
            return 1;
    }

    QStringList labels;
    for (int id : members)
        labels << memberLabel(id);
    const struct
    {
        HistoryTarget target;
        const char* out;
    } shots[] = {{HistoryTarget::forBattery(drifting, QStringLiteral("Группа 3, ") + memberLabel(drifting), 3,
                                            members),
                  argv[1]},
                 {HistoryTarget::forGroup(3, members, labels), argv[2]}};
    for (const auto& shot : shots) {
        auto* window = new HistoryWindow(path, shot.target, AlarmThresholds());
        window->setClock([nowTime] { return nowTime; });
        window->show(); // opens on the day there is
        // As on a 1366 x 768 screen, whatever screen this runs on.
        window->fitInto(QRect(0, 0, 1366, 768));
        for (int i = 0; i < 10; ++i)
            app.processEvents();
        const QString out = QFileInfo(QString::fromLocal8Bit(shot.out)).absoluteFilePath();
        if (!window->grab().save(out)) {
            std::fprintf(stderr, "cannot save %s\n", qPrintable(out));
            return 1;
        }
        window->close();
    }
    return 0;
}
