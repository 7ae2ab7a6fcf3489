// The Modbus exchange of the main window. A single-shot timer sends the three read requests
// of each polled group's device in turn, the port's ready-read signal collects the answers,
// and the end of each turn puts the readings into the group's batteries and judges them.
// Everything runs in the GUI thread.
#include "app/HistoryFeed.h"
#include "app/MainWindow.h"

#include "app/MainWindowForm.h"
#include "app/ModbusPollList.h"
#include "app/PortOpenFailure.h"
#include "config/GroupsSettingsWindow.h"
#include "config/ModbusAddressList.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "widgets/GroupContainerWidget.h"
#include "widgets/MKPWidget.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>

namespace {
// No answer: the same request again after this long; also the pause between two devices.
constexpr int kAnswerTimeoutMs = 400;
// A rejected answer: the same request again after this long.
constexpr int kRejectedAnswerMs = 1000;
// A good answer: the next request (or the end of the turn) at once.
constexpr int kNextStepMs = 1;
// Sends of one request without an accepted answer before its device counts as silent.
constexpr int kSendsBeforeSilent = 3;
// Slack on top of the spread of a repeated request's sends, for the device's own jitter.
constexpr int kOwedAnswerSlackMs = 50;

constexpr int kChannels = 128;
constexpr int kRegisterRow = 1024;
constexpr quint16 kNoVoltage = 0;
constexpr quint16 kNoTemperature = 2550;
constexpr uint8_t kReadHoldingRegisters = 3;

struct StageRequest
{
    quint16 start;
    quint16 count;
};
// Voltages of channels 0..124, then 125..127 with the temperatures of 0..121, then the rest.
constexpr StageRequest kStageRequests[3] = {{3, 125}, {128, 125}, {253, 9}};

// Whether `size` bytes can be the start of an answer to the request in the record: the
// request's slave address, then its function with the byte count it asks for, or the
// exception function.
bool canStartAnswer(const char* bytes, int size, const ModbusMasterState& state)
{
    const uint8_t slave = state.request[0];
    const uint8_t function = state.request[1];
    const int byteCount = 2 * (state.request[4] << 8 | state.request[5]);
    if (size < 1 || uint8_t(bytes[0]) != slave)
        return false;
    if (size < 2 || uint8_t(bytes[1]) == (function | 0x80))
        return true;
    if (uint8_t(bytes[1]) != function)
        return false;
    return size < 3 || uint8_t(bytes[2]) == byteCount;
}
} // namespace

bool MainWindow::startModbus()
{
    if (modbusRunning)
        return true;
    if (modbusPollList(groups, modbusAddressList).isEmpty()) {
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
    modbusMasterInit(&modbusState);
    // Devices found silent before a stop stay listed until they complete a turn.
    lastSentStage = 0;
    stage = 0;
    repeatCount = 0;
    registerFill = 0;
    answerBuffer.clear();
    answerAwaited = false;
    modbusPaused = false;
    measuredThisTurn.clear();
    currentAddress = -1;
    exchangeClock.start();
    stageTimer->start();
    currentDevice = 1;
    stageSwitcher();
}

void MainWindow::stopModbusExchange()
{
    modbusRunning = false;
    answerAwaited = false;
    if (historyFeed)
        historyFeed->flushRound();
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

void MainWindow::sendModbusRequest(quint8 slave, quint16 start, quint16 count)
{
    // Whatever came before this request (a late or partial answer, line noise) is not its answer.
    answerBuffer.clear();
    answerAwaited = false;
    if (serialPort->isOpen())
        serialPort->clear(QSerialPort::Input);
    // An address no device can have is refused by the codec; sending the request left in the
    // record instead would ask another device. Nothing goes out, the time-out follows.
    if (modbusBuildReadRequest(&modbusState, kReadHoldingRegisters, slave, start, count) != MbOk)
        return;
    if (!serialPort->isOpen())
        return;
    answerAwaited = true;
    const qint64 written =
        serialPort->write(reinterpret_cast<const char*>(modbusState.request), modbusState.requestLength);
    if (written == 0) {
        modbusBoxes.show(ModbusMessageBoxes::WriteFailed, QMessageBox::Information,
                         QApplication::activeWindow(), QApplication::applicationName(),
                         tr("Невозможно записать в последовательный порт ") + serialPort->portName());
    } else if (written > 0) {
        serialPort->flush();
    }
}

void MainWindow::stageSwitcher()
{
    if (!modbusRunning)
        return;
    if (stage > 2) {
        finishDeviceTurn();
        stageTimer->start(kAnswerTimeoutMs);
        return;
    }
    if (stage == 0 && !takeTurnDevice()) {
        stageTimer->start(kAnswerTimeoutMs);
        return;
    }
    // The request went out three times and none of its answers was accepted.
    if (repeatCount >= kSendsBeforeSilent) {
        declareDeviceSilent();
        stageTimer->start(kAnswerTimeoutMs);
        return;
    }
    // A send that timed out may still be answered late; a rejected one was answered.
    if (repeatCount == 0)
        firstOwedSendAt = -1;
    else if (answerAwaited && firstOwedSendAt < 0)
        firstOwedSendAt = lastSendAt;
    const StageRequest& request = kStageRequests[stage];
    sendModbusRequest(quint8(currentAddress & 0xFF), request.start, request.count);
    lastSendAt = exchangeClock.elapsed();
    ++repeatCount;
    lastSentStage = stage;
    retryStatusLabel->setText(QString());
    stageTimer->start(kAnswerTimeoutMs);
}

bool MainWindow::takeTurnDevice()
{
    // The groups as the last apply left them: a group emptied since is skipped, one filled
    // since is asked, and a group no longer asked is no longer reported silent.
    const QVector<ModbusPollEntry> list = modbusPollList(groups, modbusAddressList);
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
        return false;
    }
    if (modbusPaused) {
        modbusPaused = false;
        exchangeStatusLabel->setText(QString());
    }
    if (forgotten && !silentDevices.empty())
        showSilentDevices();
    if (forgotten)
        showCommLoss();

    const ModbusPollEntry& entry = list.at(modbusPollIndexFrom(list, currentDevice));
    if (entry.group != currentDevice || entry.address != currentAddress) {
        currentDevice = entry.group;
        currentAddress = entry.address;
        repeatCount = 0;
    }
    registerFill = 0;
    return true;
}

void MainWindow::pauseModbusExchange()
{
    modbusPaused = true;
    stage = 0;
    registerFill = 0;
    repeatCount = 0;
    answerAwaited = false;
    exchangeStatusLabel->setStyleSheet(QStringLiteral("color: red"));
    exchangeStatusLabel->setText(tr("Нет групп с батареями для опроса по Modbus"));
}

void MainWindow::readModbusAnswer()
{
    const QByteArray incoming = serialPort->readAll();
    // Bytes with no request waiting for them (after a time-out, a rejection or an accepted
    // answer, or while the turn is being finished) belong to no request and are dropped.
    if (!modbusRunning || !answerAwaited || lastSentStage != stage)
        return;
    answerBuffer.append(incoming);
    // The answer begins where the bytes can begin it; what comes before is not part of it: the
    // tail of an earlier frame, line noise, the request handed back by an RS-485 adapter
    // without echo suppression, another device's frame.
    int skip = 0;
    while (skip < answerBuffer.size() &&
           !canStartAnswer(answerBuffer.constData() + skip, answerBuffer.size() - skip, modbusState))
        ++skip;
    answerBuffer.remove(0, skip);

    const int expected = modbusState.expectedAnswerLength;
    if (answerBuffer.size() < expected)
        return;
    answerAwaited = false;
    modbusState.answer = reinterpret_cast<const uint8_t*>(answerBuffer.constData());
    modbusState.answerLength = uint8_t(expected);
    const ModbusResult result = modbusParseAnswer(&modbusState);
    modbusState.answer = nullptr;
    answerBuffer.clear();
    if (result != MbOk) {
        stageTimer->start(kRejectedAnswerMs);
        return;
    }

    quint16* row = deviceRegisters[currentDevice - 1];
    const int count = std::min<int>(modbusState.dataCount, kRegisterRow - registerFill);
    std::copy(modbusState.registers, modbusState.registers + count, row + registerFill);
    registerFill += count;
    const int delay = delayAfterAnswer();
    repeatCount = 0;
    firstOwedSendAt = -1;
    if (stage == 2) {
        applyRegisterTable(currentDevice);
        registerFill = 0;
    }
    ++stage;
    stageTimer->start(delay);
}

int MainWindow::delayAfterAnswer() const
{
    // When a send that timed out is the one answered now, the answers to the later sends of
    // the same request are still on their way and must not meet the next request.
    if (firstOwedSendAt < 0)
        return kNextStepMs;
    return int(lastSendAt - firstOwedSendAt) + kOwedAnswerSlackMs;
}

void MainWindow::applyRegisterTable(int group)
{
    measuredThisTurn.clear();
    if (group < 1 || group > 6 || group >= groups.size())
        return;
    const BatteryGroup* batteryGroup = groups[group];
    const int first = GroupsSettingsWindow::groupFirstSensor(group);
    const quint16* table = deviceRegisters[group - 1];
    for (int i = 0; first >= 0 && i < batteryGroup->batteryCount() && first + i < kChannels; ++i) {
        Battery* battery = batteryGroup->batteryAt(i);
        if (battery->groupNumber() < 1) {
            battery->setNoData(true);
            continue;
        }
        const quint16 voltage = table[first + i];
        const quint16 temperature = table[first + i + kChannels];
        if (voltage == kNoVoltage && temperature == kNoTemperature) {
            battery->setNoData(true);
        } else {
            if (battery->hasNoData())
                battery->setNoData(false);
            battery->setTemperature(temperature * 0.1);
            battery->setVoltage(voltage * 0.01);
            measuredThisTurn.insert(battery);
        }
        if (MKPWidget* tile = tileOf(battery)) {
            tile->addressLabel()->setText(QStringLiteral("%1/%2").arg(battery->groupNumber()).arg(i + 1));
            tile->setBatteryNumber(i);
        }
    }
    retryStatusLabel->setText(QString());
}

void MainWindow::finishDeviceTurn()
{
    // The return is journalled before the batteries are judged afresh.
    if (commLoss.sweep(currentDevice, true) == CommLossTracker::Change::Restored) {
        commRestoredAt(currentDevice);
        showCommLoss();
    }
    if (currentDevice >= 1 && currentDevice < groups.size()) {
        // Only what was measured in this turn counts as data: a channel without a measurement
        // and a battery past the end of the device's table are left out of the means.
        const QList<Battery*> members = groups[currentDevice]->batteries();
        for (Battery* battery : members) {
            if (measuredThisTurn.contains(battery)) {
                if (battery->hasNoData())
                    battery->setNoData(false);
            } else {
                battery->setNoData(true);
            }
        }
        // Every member is judged against the same means, taken once for the turn.
        groups[currentDevice]->recalculate();
        for (Battery* battery : members)
            batteryAlarmStep(battery);
        historyFeed->takeGroupTurn(members);
        repaintGroupCharts(currentDevice);
    }
    measuredThisTurn.clear();
    stage = 0;
    silentDevices.erase(currentDevice);
    silentAddresses.remove(currentDevice);
    if (silentDevices.empty()) {
        exchangeStatusLabel->setStyleSheet(QStringLiteral("color: green"));
        exchangeStatusLabel->clear();
        exchangeStatusLabel->setText(tr("обмен по modbus: ок"));
    } else {
        showSilentDevices();
    }
    advanceDevice();
}

void MainWindow::declareDeviceSilent()
{
    repeatCount = 0;
    stage = 0;
    // The next device's table starts from its first register.
    registerFill = 0;
    answerAwaited = false;
    answerBuffer.clear();
    measuredThisTurn.clear();
    silentDevices.insert(currentDevice);
    silentAddresses.insert(currentDevice, currentAddress);
    showSilentDevices();
    commLoss.setWatched(currentDevice, true);
    if (commLoss.markLost(currentDevice) == CommLossTracker::Change::Lost) {
        commLostAt(currentDevice);
        showCommLoss();
    }
    if (currentDevice >= 1 && currentDevice < groups.size()) {
        // No data is no reason to end an alarm: the loss stands for it until the data returns.
        const QList<Battery*> members = groups[currentDevice]->batteries();
        for (Battery* battery : members)
            battery->setNoData(true);
        historyFeed->takeGroupTurn(members);
        repaintGroupCharts(currentDevice);
    }
    advanceDevice();
}

void MainWindow::advanceDevice()
{
    // The next group by number; the next turn skips to the next one that holds batteries.
    currentDevice = currentDevice % 6 + 1;
    currentAddress = -1;
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
