// Helper of tst_monitor_kill: the monitor in the given folder, polling the given line through
// an alarm storm while its settings are saved over and over. Prints "E <paragraph>" once an
// event is on disk and "S <n>" once the n-th save has returned. The test kills it, or asks it
// to end with SIGTERM, SIGINT or SIGHUP, which it takes as the program does.
#include "app/MainWindow.h"
#include "app/MainWindowForm.h"
#include "app/QuitOnSignals.h"
#include "config/Settings.h"
#include "journal/Journal.h"
#include "journal/JournalFormat.h"
#include "link/WorkerObject.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <unistd.h>

namespace {
void say(const QByteArray& line)
{
    const QByteArray text = line + '\n';
    if (::write(STDOUT_FILENO, text.constData(), size_t(text.size())) != text.size())
        ::_exit(3);
}
} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <folder> <line>\n", argv[0]);
        return 2;
    }
    std::setlocale(LC_NUMERIC, "C");
    QDir::setCurrent(QString::fromLocal8Bit(argv[1]));
    MainWindow::extraComPorts = QStringList{QString::fromLocal8Bit(argv[2])};
    MainWindow::serialPortTableRoot = QStringLiteral("no-sysfs");
    QuitOnSignals quitOnSignals;
    MainWindow window;
    MainWindow::instance = &window;
    window.show();

    // Two versions of the settings, saved in turn; the test knows them from these copies.
    Settings& settings = window.settingsRecord();
    const double sizes[2] = {1.5, 2.5};
    for (int v = 0; v < 2; ++v) {
        settings.setJournalSize(sizes[v]);
        if (!settings.save(QStringLiteral("variant-%1.xml").arg(v)))
            return 4;
    }
    // Right after the write, on the journal's thread.
    QObject::connect(
        window.alarmJournal(), &Journal::updateJournalWidget, &window,
        [](const Event& e) { say("E " + JournalFormat::toHtml(e).toUtf8()); }, Qt::DirectConnection);

    int saves = 0;
    QTimer saver;
    QObject::connect(&saver, &QTimer::timeout, [&] {
        settings.setJournalSize(sizes[saves % 2]);
        if (settings.save(QStringLiteral("settings.xml")))
            say("S " + QByteArray::number(++saves));
    });
    saver.start(5);

    window.nativeWorker().setPollingPeriod(10);
    window.form()->pb_stop_start->click();
    return app.exec();
}
