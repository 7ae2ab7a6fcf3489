#pragma once

#include "app/MainWindow.h"
#include "app/MainWindowForm.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "widgets/MKPWidget.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>

// One group of the settings file: `count` batteries from battery `firstBattery` on (row by
// row), asked at `address`, its first battery at channel `firstSensor` of the device.
struct GroupLayout
{
    int group;
    int firstBattery;
    int count;
    int address;
    int firstSensor;
};

// A main window in the Modbus mode, built in a folder of its own from a settings file with
// the given groups, whose port selector offers only `port`.
class ModbusWindowFixture
{
public:
    ModbusWindowFixture(const QString& port, const QList<GroupLayout>& layout)
    {
        QDir(folder.path()).mkdir(QStringLiteral("tty"));
        QByteArray xml = "<!DOCTYPE settings>\n<settings>\n <mode>true</mode>\n";
        xml += " <com_port>" + port.toUtf8() + "</com_port>\n";
        for (int id = 0; id < 128; ++id) {
            int number = 0;
            for (const GroupLayout& g : layout)
                if (id >= g.firstBattery && id < g.firstBattery + g.count)
                    number = g.group;
            xml += QString(" <group_id msd=\"%1\" mkp=\"%2\">%3</group_id>\n")
                       .arg(id / 8)
                       .arg(id % 8)
                       .arg(number)
                       .toUtf8();
        }
        for (const GroupLayout& g : layout) {
            xml += QString(" <ModbusAddr%1>%2</ModbusAddr%1>\n").arg(g.group).arg(g.address).toUtf8();
            xml += QString(" <Dat%1>%2</Dat%1>\n").arg(g.group).arg(g.firstSensor).toUtf8();
        }
        xml += "</settings>\n";
        QFile file(folder.filePath(QStringLiteral("settings.xml")));
        file.open(QIODevice::WriteOnly);
        file.write(xml);
        file.close();

        previousFolder = QDir::currentPath();
        // The settings page saves into the working folder when groups are applied.
        QDir::setCurrent(folder.path());
        MainWindow::serialPortTableRoot = folder.filePath(QStringLiteral("tty"));
        MainWindow::extraComPorts = QStringList{port};
        window = std::make_unique<MainWindow>();
        MainWindow::instance = window.get();
    }

    ~ModbusWindowFixture()
    {
        closeBoxes();
        MainWindow::instance = nullptr;
        window.reset();
        MainWindow::extraComPorts.clear();
        QDir::setCurrent(previousFolder);
    }

    MainWindow* operator->() const { return window.get(); }
    Battery* battery(int id) const { return window->rows().at(id / 8).at(id % 8); }
    MKPWidget* tile(int id) const { return battery(id)->widget(); }
    QString status() const { return window->exchangeStatus()->text(); }
    QString statusStyle() const { return window->exchangeStatus()->styleSheet(); }

    // Runs the event loop until the condition holds or `ms` have passed.
    static bool waitUntil(const std::function<bool()>& condition, int ms)
    {
        QElapsedTimer clock;
        clock.start();
        while (!condition()) {
            if (clock.elapsed() > ms)
                return false;
            QEventLoop pause;
            QTimer::singleShot(10, &pause, &QEventLoop::quit);
            pause.exec();
        }
        return true;
    }

    static QList<QMessageBox*> openBoxes()
    {
        QList<QMessageBox*> boxes;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w))
                if (box->isVisible())
                    boxes.append(box);
        return boxes;
    }
    static void closeBoxes()
    {
        for (QMessageBox* box : openBoxes())
            box->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    QTemporaryDir folder;
    QString previousFolder;
    std::unique_ptr<MainWindow> window;
};
