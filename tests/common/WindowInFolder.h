#pragma once

#include "app/MainWindow.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <memory>

// The real main window, built in a scratch working directory that holds the given
// settings.xml (none when the text is null), and registered as the program's window.
struct WindowInFolder
{
    QTemporaryDir dir;
    QString previous = QDir::currentPath();
    std::unique_ptr<MainWindow> window;

    // `files`: further files of the folder by name, such as the operator's sounds.
    explicit WindowInFolder(const QByteArray& settingsXml = QByteArray(),
                            const QMap<QString, QByteArray>& files = {})
    {
        QMap<QString, QByteArray> all = files;
        if (!settingsXml.isNull())
            all.insert("settings.xml", settingsXml);
        for (auto i = all.cbegin(); i != all.cend(); ++i) {
            QFile f(dir.filePath(i.key()));
            if (f.open(QIODevice::WriteOnly))
                f.write(i.value());
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
