#include "app/MainWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <clocale>
#include <cstring>

namespace {
const QString kPortOption = QStringLiteral("port");

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
    QCommandLineParser parser;
    describeOptions(parser);
    parser.process(app);
    MainWindow::extraComPorts = parser.values(kPortOption);

    // QApplication adopted the user's locale; numbers in files and on screen must not
    // depend on it. The comma on screen comes from the formatting helper.
    std::setlocale(LC_NUMERIC, "C");

    auto* window = new MainWindow();
    window->show();
    MainWindow::instance = window;
    const int code = app.exec();
    delete window;
    return code;
}
