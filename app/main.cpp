#include "app/InstanceLock.h"
#include "app/MainWindow.h"
#include "app/MainWindowForm.h"
#include "app/QtTranslation.h"
#include "app/QuitOnSignals.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <cstring>

namespace {
const QString kPortOption = QStringLiteral("port");
const QString kStartOption = QStringLiteral("start");

void describeOptions(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral("ОРВИК-Монитор: battery installation monitor."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(
        QCommandLineOption(kPortOption,
                           QStringLiteral("Offer the serial line at <path> (a pty, a serial-over-IP "
                                          "device) after the system's ports. Repeatable."),
                           QStringLiteral("path")));
    parser.addOption(QCommandLineOption(
        kStartOption, QStringLiteral("Start polling at once, as the start button does (an unattended "
                                     "station starting after a power cut).")));
}

// Help and version need no display, so they are answered before one is opened.
bool asksForInformationOnly(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        for (const char* option : {"-h", "--help", "-?", "--help-all", "-v", "--version"})
            if (std::strcmp(argv[i], option) == 0)
                return true;
    }
    return false;
}

// Said on standard error and in a box that goes away by itself, so an unattended start
// (autostart, a service) does not hang on it.
void refuseSecondInstance(const QString& folder)
{
    const QString text = InstanceLock::heldMessage(folder);
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    QMessageBox box(QMessageBox::Warning, QStringLiteral("ОРВИК-Монитор"), text, QMessageBox::Ok);
    QTimer::singleShot(5000, &box, &QMessageBox::accept);
    box.exec();
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("orvik-monitor"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVIK_VERSION));
    if (asksForInformationOnly(argc, argv)) {
        QCoreApplication app(argc, argv);
        QCommandLineParser parser;
        describeOptions(parser);
        parser.process(app);
        return 0;
    }

    QApplication app(argc, argv);
    if (!installQtTranslation(app))
        std::fprintf(
            stderr,
            "orvik-monitor: Qt's Russian texts (qtbase_ru.qm) not found, its dialogs stay in English\n");
    QCommandLineParser parser;
    describeOptions(parser);
    parser.process(app);
    MainWindow::extraComPorts = parser.values(kPortOption);

    // QApplication adopted the user's locale; numbers in files and on screen must not
    // depend on it. The comma on screen comes from the formatting helper.
    std::setlocale(LC_NUMERIC, "C");

    InstanceLock lock(QDir::currentPath());
    switch (lock.take()) {
    case InstanceLock::Result::HeldByAnother:
        refuseSecondInstance(QDir::currentPath());
        return 1;
    case InstanceLock::Result::Unavailable:
        std::fprintf(stderr,
                     "orvik-monitor: no lock file in this folder, a second monitor would not be stopped\n");
        break;
    case InstanceLock::Result::Taken:
        break;
    }
    QuitOnSignals quitOnSignals;

    auto* window = new MainWindow();
    window->show();
    MainWindow::instance = window;
    if (parser.isSet(kStartOption))
        QTimer::singleShot(0, window->form()->pb_stop_start, &QPushButton::click);
    const int code = app.exec();
    delete window;
    return code;
}
