#pragma once

#include "app/MainWindow.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <memory>

// The real main window, built in a scratch working directory that holds the given
// settings.xml (none when the text is null), and registered as the program's window.
struct WindowInFolder
{
    QTemporaryDir dir;
    QString previous = QDir::currentPath();
    std::unique_ptr<MainWindow> window;

    explicit WindowInFolder(const QByteArray& settingsXml = QByteArray())
    {
        if (!settingsXml.isNull()) {
            QFile f(dir.filePath("settings.xml"));
            if (f.open(QIODevice::WriteOnly))
                f.write(settingsXml);
        }
        QDir::setCurrent(dir.path());
        window = std::make_unique<MainWindow>();
        MainWindow::instance = window.get();
    }
    ~WindowInFolder()
    {
        MainWindow::instance = nullptr;
        window.reset();
        QDir::setCurrent(previous);
    }
};

// A settings.xml around the given elements.
inline QByteArray settingsWith(const QByteArray& children)
{
    return "<!DOCTYPE settings>\n<settings>\n" + children + "</settings>\n";
}
