#include "app/MainWindow.h"

#include <QApplication>
#include <clocale>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
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
