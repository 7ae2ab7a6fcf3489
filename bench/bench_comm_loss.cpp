// Time from a module's last answer to the communication-loss alarm on screen and in the sound,
// at the real polling period and the default three sweeps. The device simulator prints the
// wall-clock time of each answer of the watched module; the alarm counts once the status text
// shows and the warning sound plays (or, with no sound output, has been started). The goal is
// comm_loss_sweeps × 3 s + 1 s.
#include "app/MainWindowForm.h"
#include "app/StatusNotices.h"
#include "core/AudioSignals.h"
#include "tests/common/PulseServer.h"
#include "tests/common/SimulatedLine.h"
#include "tests/common/WindowInFolder.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <benchmark/benchmark.h>

namespace {
constexpr int kModule = 5;
constexpr int kSweeps = 3;

template <typename Predicate> bool waitFor(Predicate done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return done();
}

void BM_LastAnswerToAlarm(benchmark::State& state)
{
    SimulatedLine line;
    if (!line.start({"--report-answers", QString::number(kModule)})) {
        state.SkipWithError("the simulator did not start");
        return;
    }
    qint64 lastAnswer = 0;
    QObject::connect(&line.process, &QProcess::readyReadStandardOutput, [&] {
        while (line.process.canReadLine()) {
            const QByteArray text = line.process.readLine().trimmed();
            if (text.startsWith("answered "))
                lastAnswer = text.mid(9).toLongLong();
        }
    });
    QByteArray xml;
    for (int c = 0; c < 8; ++c)
        xml += QString(" <group_id msd=\"%1\" mkp=\"%2\">1</group_id>\n").arg(kModule).arg(c).toUtf8();
    WindowInFolder folder(settingsWith(xml), {}, line.link());
    MainWindow* window = folder.window.get();
    QLabel* lossText = window->statusNotices()->label(StatusNotices::CommLoss);
    qint64 soundStarted = 0;
    QObject::connect(window, &MainWindow::startWarningSound,
                     [&] { soundStarted = QDateTime::currentMSecsSinceEpoch(); });
    window->show();
    window->form()->pb_stop_start->click();
    const auto alarmed = [&] {
        return !lossText->isHidden() && soundStarted > 0 &&
               (!window->soundPlayer()->hasOutput() || window->soundPlayer()->isPlaying());
    };
    double worst = 0;
    for (auto _ : state) {
        // Answering again, for two sweeps at least, before it falls silent.
        if (!waitFor([&] { return lossText->isHidden() && lastAnswer > 0; }, 20000) ||
            !waitFor([&, from = lastAnswer] { return lastAnswer > from + 3000; }, 10000)) {
            state.SkipWithError("the module does not answer");
            break;
        }
        soundStarted = 0;
        line.command("silent " + QByteArray::number(kModule));
        if (!waitFor(alarmed, 20000)) {
            state.SkipWithError("no alarm within 20 s");
            break;
        }
        const double seconds = double(QDateTime::currentMSecsSinceEpoch() - lastAnswer) / 1000.0;
        state.SetIterationTime(seconds);
        worst = qMax(worst, seconds);
        window->form()->pb_confirm_crashes->click();
        line.command("answer " + QByteArray::number(kModule));
    }
    state.counters["worst_s"] = worst;
    state.counters["goal_s"] = kSweeps * 3.0 + 1.0;
    state.counters["sound_output"] = window->soundPlayer()->hasOutput() ? 1 : 0;
}
} // namespace

BENCHMARK(BM_LastAnswerToAlarm)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    PulseServer pulse; // before the application: the audio plugin connects once
    if (!pulse.start())
        std::fprintf(stderr, "bench_comm_loss: %s; the sound stays silent\n", qPrintable(pulse.problem));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
