// The Modbus exchange of the main window. A single-shot timer sends the three read requests
// of each polled group's device in turn, the port's ready-read signal collects the answers,
// and the end of each turn puts the readings into the group's batteries and judges them.
// ModbusCycle decides; the window carries out its steps. Everything runs in the GUI thread.
#include "app/MainWindow.h"
#include "app/RoomFeed.h"

#include "app/MainWindowForm.h"
#include "app/PortOpenFailure.h"
#include "config/GroupsSettingsWindow.h"
#include "config/ModbusAddressList.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "link/ModbusGroupReadings.h"
#include "link/ModbusPollList.h"
#include "widgets/GroupContainerWidget.h"
#include "widgets/MKPWidget.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>

bool MainWindow::startModbus()
{
    if (modbusRunning)
        return true;
    if (modbusPollList(groupBatteryCounts(), modbusAddressList).isEmpty()) {
        modbusBoxes.show(ModbusMessageBoxes::NoGroups, QMessageBox::Information, this,
                         QApplication::applicationName(), tr("Нет групп с батареями для опроса по Modbus"));
        return false;
    }
    setGroupsRunningLook(true);
    setControlsLocked(true);
    startModbusExchange();
    ui->pb_stop_start->setText(tr("Стоп"));
    return true;
}

void MainWindow::stopModbus()
{
    stopModbusExchange();
    cleanBatteriesState();
    clearCommLoss();
    ui->pb_stop_start->setText(tr("Старт"));
    setControlsLocked(false);
    setGroupsRunningLook(false);
    emit stopSounds();
}

void MainWindow::startModbusExchange()
{
    modbusRunning = true;
    openSerialPort();
    // Devices found silent before a stop stay listed until they complete a turn.
    modbusCycle.start();
    modbusPaused = false;
    measuredThisTurn.clear();
    exchangeClock.start();
    stageTimer->start();
    stageSwitcher();
}

void MainWindow::stopModbusExchange()
{
    modbusRunning = false;
    if (roomFeed)
        roomFeed->flushRound();
    closeSerialPort();
    if (stageTimer)
        stageTimer->stop();
}

void MainWindow::openSerialPort()
{
    if (serialPort->isOpen())
        return;
    serialPort->setPortName(ui->cmb_com->currentText());
    // Parity goes in before the open: a line that cannot hold it (a pseudo-terminal) then
    // still opens, where changing it on an open line fails.
    serialPort->setBaudRate(QSerialPort::Baud19200);
    serialPort->setDataBits(QSerialPort::Data8);
    serialPort->setParity(QSerialPort::EvenParity);
    serialPort->setStopBits(QSerialPort::OneStop);
    serialPort->setFlowControl(QSerialPort::NoFlowControl);
    if (!serialPort->open(QIODevice::ReadWrite))
        modbusBoxes.show(ModbusMessageBoxes::PortNotOpened, QMessageBox::Critical, this, tr("Error"),
                         PortOpenFailure::modbusText(ui->cmb_com->currentText(), serialPort->error(),
                                                     serialPort->errorString()));
}

void MainWindow::closeSerialPort()
{
    if (serialPort && serialPort->isOpen())
        serialPort->close();
}

void MainWindow::handleError(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ResourceError)
        return;
    // The adapter went away. Closing at once stops the port's flood of further errors; the
    // cycle goes on and reports the devices silent in turn.
    const QString text = serialPort->errorString();
    closeSerialPort();
    modbusBoxes.show(ModbusMessageBoxes::DeviceRemoved, QMessageBox::Critical, this, tr("Critical Error"),
                     text);
}

void MainWindow::sendModbusRequest(const QByteArray& request)
{
    if (serialPort->isOpen())
        serialPort->clear(QSerialPort::Input);
    if (request.isEmpty() || !serialPort->isOpen())
        return;
    const qint64 written = serialPort->write(request);
    if (written == 0) {
        modbusBoxes.show(ModbusMessageBoxes::WriteFailed, QMessageBox::Information,
                         QApplication::activeWindow(), QApplication::applicationName(),
                         tr("Невозможно записать в последовательный порт ") + serialPort->portName());
    } else if (written > 0) {
        serialPort->flush();
    }
}

QVector<int> MainWindow::groupBatteryCounts() const
{
    QVector<int> counts;
    for (const BatteryGroup* group : groups)
        counts.append(group ? group->batteryCount() : 0);
    return counts;
}

void MainWindow::stageSwitcher()
{
    if (!modbusRunning)
        return;
    const QVector<ModbusPollEntry> list = modbusPollList(groupBatteryCounts(), modbusAddressList);
    const ModbusCycleStep step = modbusCycle.timerFired(exchangeClock.elapsed(), list, serialPort->isOpen());
    if (step.turnStarts)
        takeTurnDevice(list);
    if (step.kind == ModbusCycleStep::TurnDone) {
        finishDeviceTurn(step.group);
    } else if (step.kind == ModbusCycleStep::DeviceSilent) {
        declareDeviceSilent(step.group, step.address);
    } else if (step.kind == ModbusCycleStep::Send) {
        sendModbusRequest(step.request);
        retryStatusLabel->setText(QString());
    }
    stageTimer->start(step.waitMs);
}

void MainWindow::takeTurnDevice(const QVector<ModbusPollEntry>& list)
{
    // The groups as the last apply left them: a group emptied since is skipped, one filled
    // since is asked, and a group no longer asked is no longer reported silent.
    bool forgotten = false;
    for (auto it = silentDevices.begin(); it != silentDevices.end();) {
        const int group = *it;
        const bool polled = std::any_of(list.begin(), list.end(),
                                        [group](const ModbusPollEntry& e) { return e.group == group; });
        if (polled) {
            ++it;
        } else {
            silentAddresses.remove(group);
            it = silentDevices.erase(it);
            commLoss.setWatched(group, false);
            forgotten = true;
        }
    }
    if (list.isEmpty()) {
        pauseModbusExchange();
        return;
    }
    if (modbusPaused) {
        modbusPaused = false;
        exchangeStatusLabel->setText(QString());
    }
    if (forgotten && !silentDevices.empty())
        showSilentDevices();
    if (forgotten)
        showCommLoss();
}

void MainWindow::pauseModbusExchange()
{
    modbusPaused = true;
    exchangeStatusLabel->setStyleSheet(QStringLiteral("color: red"));
    exchangeStatusLabel->setText(tr("Нет групп с батареями для опроса по Modbus"));
}

void MainWindow::readModbusAnswer()
{
    const QByteArray incoming = serialPort->readAll();
    if (!modbusRunning)
        return;
    const ModbusCycleStep step = modbusCycle.bytesArrived(incoming);
    if (step.kind == ModbusCycleStep::TableComplete)
        applyRegisterTable(step.group);
    if (step.waitMs >= 0)
        stageTimer->start(step.waitMs);
}

void MainWindow::applyRegisterTable(int group)
{
    measuredThisTurn.clear();
    if (group < 1 || group > 6 || group >= groups.size())
        return;
    const BatteryGroup* batteryGroup = groups[group];
    const QVector<ModbusReading> readings = modbusGroupReadings(
        modbusCycle.table(), GroupsSettingsWindow::groupFirstSensor(group), batteryGroup->batteryCount());
    for (int i = 0; i < readings.size(); ++i) {
        Battery* battery = batteryGroup->batteryAt(i);
        if (battery->groupNumber() < 1) {
            battery->setNoData(true);
            continue;
        }
        const ModbusReading& reading = readings.at(i);
        if (!reading.measured) {
            battery->setNoData(true);
        } else {
            if (battery->hasNoData())
                battery->setNoData(false);
            battery->setTemperature(reading.degrees);
            battery->setVoltage(reading.volts);
            measuredThisTurn.insert(battery);
        }
        if (MKPWidget* tile = tileOf(battery)) {
            tile->addressLabel()->setText(QStringLiteral("%1/%2").arg(battery->groupNumber()).arg(i + 1));
            tile->setBatteryNumber(i);
        }
    }
    retryStatusLabel->setText(QString());
}

void MainWindow::finishDeviceTurn(int group)
{
    // The return is journalled before the batteries are judged afresh.
    if (commLoss.sweep(group, true) == CommLossTracker::Change::Restored) {
        commRestoredAt(group);
        showCommLoss();
    }
    if (group >= 1 && group < groups.size()) {
        // Only what was measured in this turn counts as data: a channel without a measurement
        // and a battery past the end of the device's table are left out of the means.
        const QList<Battery*> members = groups[group]->batteries();
        for (Battery* battery : members) {
            if (measuredThisTurn.contains(battery)) {
                if (battery->hasNoData())
                    battery->setNoData(false);
            } else {
                battery->setNoData(true);
            }
        }
        // Every member is judged against the same means, taken once for the turn.
        groups[group]->recalculate();
        for (Battery* battery : members)
            batteryAlarmStep(battery);
        roomFeed->takeGroupTurn(members);
        repaintGroupCharts(group);
    }
    measuredThisTurn.clear();
    silentDevices.erase(group);
    silentAddresses.remove(group);
    if (silentDevices.empty()) {
        exchangeStatusLabel->setStyleSheet(QStringLiteral("color: green"));
        exchangeStatusLabel->clear();
        exchangeStatusLabel->setText(tr("обмен по modbus: ок"));
    } else {
        showSilentDevices();
    }
}

void MainWindow::declareDeviceSilent(int group, int address)
{
    measuredThisTurn.clear();
    silentDevices.insert(group);
    silentAddresses.insert(group, address);
    showSilentDevices();
    commLoss.setWatched(group, true);
    if (commLoss.markLost(group) == CommLossTracker::Change::Lost) {
        commLostAt(group);
        showCommLoss();
    }
    if (group >= 1 && group < groups.size()) {
        // No data is no reason to end an alarm: the loss stands for it until the data returns.
        const QList<Battery*> members = groups[group]->batteries();
        for (Battery* battery : members)
            battery->setNoData(true);
        roomFeed->takeGroupTurn(members);
        repaintGroupCharts(group);
    }
}

void MainWindow::showSilentDevices()
{
    QString addresses;
    QString numbers;
    for (int group : silentDevices) {
        addresses += QString::number(silentAddresses.value(group)) + QLatin1Char(' ');
        numbers += QString::number(group) + QLatin1Char(' ');
    }
    exchangeStatusLabel->setStyleSheet(QStringLiteral("color: red"));
    exchangeStatusLabel->setText(tr("Нет ответа от modbus: адрес {") + addresses + tr("} / группа {") +
                                 numbers + QLatin1Char('}'));
}

void MainWindow::repaintGroupCharts(int group)
{
    if (group >= 1 && group <= groupContainers.size())
        groupContainers[group - 1]->repaintCharts();
}
