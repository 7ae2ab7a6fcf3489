// Of tst_monitor_kill: the monitor in <folder> polls <line> through a storm, saving its settings over
// and over; prints "E <paragraph>" once an event is on disk, "S <n>" once the n-th save returned.
#include "../common/StoreKill.h"
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

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 3)
        return 2;
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
        [](const Event& e) { reportLine("E " + JournalFormat::toHtml(e).toUtf8() + '\n'); },
        Qt::DirectConnection);

    int saves = 0;
    QTimer saver;
    QObject::connect(&saver, &QTimer::timeout, [&] {
        settings.setJournalSize(sizes[saves % 2]);
        if (settings.save(QStringLiteral("settings.xml")))
            reportLine("S " + QByteArray::number(++saves) + '\n');
    });
    saver.start(5);

    window.nativeWorker().setPollingPeriod(10);
    window.form()->pb_stop_start->click();
    return app.exec();
}
