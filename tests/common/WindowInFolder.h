#pragma once

#include "app/MainWindow.h"
#include "core/Battery.h"
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMap>
#include <QTemporaryDir>
#include <memory>

// The main window in a scratch working folder holding settings.xml (none when null) and
// `files`, with `port` (when not null) the one port the selector offers.
struct WindowInFolder
{
    QTemporaryDir dir;
    QString previous = QDir::currentPath();
    std::unique_ptr<MainWindow> window;
    bool ownPort;

    explicit WindowInFolder(const QByteArray& settingsXml = QByteArray(),
                            const QMap<QString, QByteArray>& files = {}, const QString& port = QString())
        : ownPort(!port.isNull())
    {
        QMap<QString, QByteArray> all = files;
        if (!settingsXml.isNull())
            all.insert("settings.xml", settingsXml);
        for (auto i = all.cbegin(); i != all.cend(); ++i) {
            QFile f(dir.filePath(i.key()));
            if (f.open(QIODevice::WriteOnly))
                f.write(i.value());
        }
        if (ownPort) {
            MainWindow::extraComPorts = port.isEmpty() ? QStringList() : QStringList{port};
            MainWindow::serialPortTableRoot = dir.filePath("no-sysfs");
        }
        QDir::setCurrent(dir.path());
        window = std::make_unique<MainWindow>();
        MainWindow::instance = window.get();
    }
    ~WindowInFolder()
    {
        MainWindow::instance = nullptr;
        window.reset();
        if (ownPort)
            MainWindow::extraComPorts.clear();
        QDir::setCurrent(previous);
    }
    MainWindow* operator->() const { return window.get(); }
    Battery* battery(int id) const { return window->rows()[id / 8][id % 8]; }
    QString status() const { return window->exchangeStatus()->text(); }
};

inline QByteArray settingsWith(const QByteArray& children)
{
    return "<!DOCTYPE settings>\n<settings>\n" + children + "</settings>\n";
}
