#pragma once

#include "app/MainWindow.h"
#include "core/Battery.h"

#include <QDir>
#include <QFile>
#include <QLabel>
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
    bool ownPort;

    // `files`: further files of the folder by name, such as the operator's sounds. `port`: the
    // one port the selector offers (the machine's own are not looked at).
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

// A settings.xml around the given elements.
inline QByteArray settingsWith(const QByteArray& children)
{
    return "<!DOCTYPE settings>\n<settings>\n" + children + "</settings>\n";
}

// One Modbus group: `count` batteries from battery `firstBattery` on (row by row), asked at
// `address`, its first battery at channel `firstSensor` of the device.
struct GroupLayout
{
    int group, firstBattery, count, address, firstSensor;
};

// The settings of the Modbus mode on this port with these groups.
inline QByteArray modbusSettings(const QString& port, const QList<GroupLayout>& layout)
{
    QByteArray xml = " <mode>true</mode>\n <com_port>" + port.toUtf8() + "</com_port>\n";
    for (const GroupLayout& g : layout) {
        for (int id = g.firstBattery; id < g.firstBattery + g.count; ++id)
            xml += QString(" <group_id msd=\"%1\" mkp=\"%2\">%3</group_id>\n")
                       .arg(id / 8)
                       .arg(id % 8)
                       .arg(g.group)
                       .toUtf8();
        xml += QString(" <ModbusAddr%1>%2</ModbusAddr%1>\n <Dat%1>%3</Dat%1>\n")
                   .arg(g.group)
                   .arg(g.address)
                   .arg(g.firstSensor)
                   .toUtf8();
    }
    return settingsWith(xml);
}
