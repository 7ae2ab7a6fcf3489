// Communication loss of the main window: a native module that stopped answering, or a Modbus
// group device declared silent. Its batteries are no longer judged (their alarms are not
// journalled as ended), and the loss itself is an alarm: a journal event, the warning sound,
// the tiles' own look and a status text, until confirmed or until the data returns.
#include "app/MainWindow.h"
#include "app/StatusNotices.h"
#include "config/ProgramMode.h"
#include "core/AudioSignals.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "widgets/MKPWidget.h"

#include <QDateTime>

bool MainWindow::commLossAlarmOn() const
{
    return settings.commLossAlarm();
}

int MainWindow::commSourceOf(const Battery* battery) const
{
    return modbusMode ? battery->groupNumber() : battery->msdIndex();
}

void MainWindow::nativeCommStep(const DevicesGuiData& data)
{
    commLoss.setSweepsToLoss(settings.commLossSweeps());
    bool changed = false;
    for (int m = 0; m < DevicesGuiData::msdCount && m < batteryRows.size(); ++m) {
        bool grouped = false;
        for (const Battery* battery : batteryRows.at(m))
            grouped = grouped || (battery->groupNumber() >= 1 && battery->groupNumber() <= 6);
        if (commLoss.isLost(m) && !grouped)
            changed = true;
        commLoss.setWatched(m, grouped);
        const auto change = data.lineLost ? commLoss.markLost(m) : commLoss.sweep(m, data.answered[m]);
        if (change == CommLossTracker::Change::Lost)
            commLostAt(m);
        else if (change == CommLossTracker::Change::Restored)
            commRestoredAt(m);
        changed = changed || change != CommLossTracker::Change::None;
    }
    if (changed)
        showCommLoss();
}

void MainWindow::commLostAt(int source)
{
    // Judged afresh when the data returns: an alarm still there then begins again.
    for (const QList<Battery*>& row : qAsConst(batteryRows))
        for (Battery* battery : row)
            if (commSourceOf(battery) == source) {
                battery->reset();
                battery->setNoData(true);
            }
    if (commLossAlarmOn()) {
        journalComm(Event::Kind::CommLost, source, false);
        if (settings.warningAlarm() && !unconfirmedEmergency()) {
            emit startWarningSound();
            return;
        }
    }
    // The alarms of the batteries that were reset may have been all that sounded.
    if (audioSignals && audioSignals->isPlaying() && !anythingSounding())
        emit stopSounds();
}

void MainWindow::commRestoredAt(int source)
{
    if (!commLossAlarmOn())
        return;
    journalComm(Event::Kind::CommRestored, source, false);
    if (audioSignals && audioSignals->isPlaying() && !anythingSounding())
        emit stopSounds();
}

void MainWindow::journalComm(Event::Kind kind, int source, bool confirmed)
{
    const int address = modbusMode ? silentAddresses.value(source, -1) : 0;
    if (address < 0)
        return;
    emit addCommEvent(Event::communication(kind, modbusMode ? 0 : source, modbusMode ? source : 0, address,
                                           QDateTime::currentDateTime(), confirmed));
}

void MainWindow::confirmCommLoss()
{
    const std::vector<int> confirmed = commLoss.confirmAll();
    if (commLossAlarmOn())
        for (int source : confirmed)
            journalComm(Event::Kind::CommLost, source, true);
    if (!confirmed.empty())
        showCommLoss();
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
