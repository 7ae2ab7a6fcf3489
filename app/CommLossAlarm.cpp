// Communication loss of the main window: a native module that stopped answering, or a Modbus
// group device declared silent. Its batteries are no longer judged (their alarms are not
// journalled as ended), and the loss itself is an alarm: a journal event, the warning sound,
// the tiles' own look and a status text, until confirmed or until the data returns.
#include "app/MainWindow.h"
#include "app/StatusNotices.h"
#include "config/ProgramMode.h"
#include "core/AlarmDecisions.h"
#include "core/Battery.h"
#include "widgets/MKPWidget.h"

#include <QDateTime>

bool MainWindow::commLossAlarmOn() const
{
    return settings.commLossAlarm();
}

int MainWindow::commSourceOf(const Battery* battery) const
{
    return AlarmDecisions::sourceOf(battery, modbusMode);
}

void MainWindow::nativeCommStep(const DevicesGuiData& data)
{
    commLoss.setSweepsToLoss(settings.commLossSweeps());
    if (alarmDecisions().nativeCommStep(data.answered, data.lineLost,
                                        [this](const AlarmOutcome& outcome) { carryOut(outcome); }))
        showCommLoss();
}

void MainWindow::commLostAt(int source)
{
    carryOut(alarmDecisions().lost(source));
}

void MainWindow::commRestoredAt(int source)
{
    carryOut(alarmDecisions().restored(source));
}

void MainWindow::journalComm(Event::Kind kind, int source, bool confirmed)
{
    const int address = modbusMode ? silentAddresses.value(source, -1) : 0;
    if (address < 0)
        return;
    emit addCommEvent(Event::communication(kind, modbusMode ? 0 : source, modbusMode ? source : 0, address,
                                           QDateTime::currentDateTime(), confirmed));
}

void MainWindow::clearCommLoss()
{
    commLoss.clear();
    showCommLoss();
}

void MainWindow::showCommLoss()
{
    const bool on = commLossAlarmOn();
    for (const QList<Battery*>& row : qAsConst(batteryRows))
        for (Battery* battery : row)
            if (BatteryView* tile = battery->widget()) {
                const int source = commSourceOf(battery);
                tile->setCommLoss(on && commLoss.isLost(source), commLoss.isConfirmed(source));
            }
    QStringList names;
    for (int source : commLoss.lostSources())
        names.append(modbusMode ? tr("группа %1, адрес %2").arg(source).arg(silentAddresses.value(source))
                                : QStringLiteral("МСД %1").arg(source, 2, 10, QLatin1Char('0')));
    notices->show(StatusNotices::CommLoss,
                  on && !names.isEmpty() ? tr("Нет связи: ") + names.join(QStringLiteral(", ")) : QString());
}
