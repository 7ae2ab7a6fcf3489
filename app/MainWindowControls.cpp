// The operator's controls on the main window: start/stop, mode, pages, group selection,
// the manual and the exit question.
#include "app/MainWindow.h"
#include "app/MainWindowForm.h"
#include "app/PortOpenFailure.h"
#include "config/GroupsSettingsWindow.h"
#include "config/ProgramMode.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "widgets/GroupContainerWidget.h"
#include "widgets/ResizableScrollArea.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

std::function<void(QMessageBox::Icon, QWidget*, const QString&, const QString&)> MainWindow::showMessage =
    [](QMessageBox::Icon icon, QWidget* parent, const QString& title, const QString& text) {
        QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
        box.exec();
    };

const char* const MainWindow::manualFileName = "ORVIK-Monitor_manual.pdf";

namespace {
// How long a click on "Старт"/"Стоп" may wait for the polling worker's thread.
constexpr unsigned long stopWaitMs = 2000;
} // namespace

void MainWindow::connectControls()
{
    modeButtons = new QButtonGroup(this);
    modeButtons->addButton(ui->rb_values, 0);
    modeButtons->addButton(ui->rb_divergences, 1);
    modeButtons->addButton(ui->rb_journal, 2);
    modeButtons->addButton(ui->rb_settings, 3);
    connect(modeButtons, SIGNAL(buttonClicked(int)), this, SLOT(setCurrentMode(int)));
    connect(ui->stacked_widget, SIGNAL(currentChanged(int)), this, SLOT(stackedWidgetIndexChanged(int)));

    groupButtons = new QButtonGroup(this);
    const QList<QAbstractButton*> buttons = {ui->rb_no_group, ui->rb_1_group, ui->rb_2_group, ui->rb_3_group,
                                             ui->rb_4_group,  ui->rb_5_group, ui->rb_6_group};
    for (int id = 0; id < buttons.size(); ++id)
        groupButtons->addButton(buttons[id], id);
    connect(groupButtons, SIGNAL(buttonClicked(int)), this, SLOT(updateGroupSelection()));
    connect(groupButtons, SIGNAL(buttonClicked(int)), this, SLOT(updateGroupsWidgetList(int)));
}

void MainWindow::setControlsLocked(bool locked)
{
    ui->menuModbus_mode->menuAction()->setEnabled(!locked);
    ui->cmb_com->setEnabled(!locked);
    if (groupsSettingsWindow)
        groupsSettingsWindow->setModeBoxEnabled(!locked);
}

void MainWindow::setGroupsRunningLook(bool running)
{
    setDeviationChartsRunning(running);
    for (int k = 1; k <= 6 && k < groups.size(); ++k)
        groups[k]->setIdle(!running);
}

void MainWindow::on_pb_stop_start_clicked()
{
    if (modbusMode) {
        if (modbusRunning)
            stopModbus();
        else
            startModbus();
        return;
    }
    nativeRunning ? stopNative() : startNative();
}

void MainWindow::startNative()
{
    setControlsLocked(true);
    stopModbusExchange();

    const int index = ui->cmb_com->currentIndex();
    if (index < 0 || index >= int(comPorts.size())) {
        // Nothing to open: say so and leave everything as it was.
        setControlsLocked(false);
        showMessage(QMessageBox::Information, this, tr("Ошибка!"), tr("Не выбран ком порт"));
        return;
    }
    // A sweep of the last run may outlast the stop's wait. Until it ends, its port must not
    // change under it nor its thread be started again: wait as long as the stop may, then
    // refuse rather than freeze the window.
    const auto refuseWhileSweeping = [this] {
        setControlsLocked(false);
        showMessage(QMessageBox::Information, this, tr("Ошибка!"),
                    tr("Предыдущий опрос ещё не завершён. Повторите запуск через несколько секунд."));
    };
    worker.stopPolling();
    if (!worker.waitStopped(stopWaitMs))
        return refuseWhileSweeping();
    ComPort* port = comPorts[size_t(index)].get();
    if (!port->open()) {
        const QString text = PortOpenFailure::nativeText(port->portName(), port->lastError());
        setControlsLocked(false);
        showMessage(QMessageBox::Information, this, tr("Ошибка!"), text);
        return;
    }
    if (!worker.setPort(port) || !worker.startPolling()) {
        port->close(false);
        return refuseWhileSweeping();
    }
    currentComPort = port;
    clearCommLoss();
    nativeRunning = true;
    ui->pb_stop_start->setText(tr("Стоп"));
    settings.setComPort(ui->cmb_com->currentText());
    setGroupsRunningLook(true);
}

void MainWindow::stopNative()
{
    worker.stopPolling();
    worker.waitStopped(stopWaitMs);
    // The worker closes a failed line by force: a port found closed is no close error.
    if (currentComPort && !currentComPort->close(false) && currentComPort->isOpen()) {
        const QString code = QString::asprintf("0x%08X", unsigned(currentComPort->lastError()));
        showMessage(QMessageBox::Information, this, tr("Ошибка!"),
                    tr("При закрытии ком порта произошла ошибка(") + code + tr(")!"));
    }
    nativeRunning = false;
    for (const QList<Battery*>& row : qAsConst(batteryRows))
        for (Battery* battery : row)
            battery->reset();
    clearCommLoss();
    setGroupsRunningLook(false);
    ui->pb_stop_start->setText(tr("Старт"));
    emit stopSounds();
    setControlsLocked(false);
}

void MainWindow::on_action_Modbus_triggered()
{
    modbusMode = ui->action_Modbus->isChecked();
    showMode(modbusMode);
    if (groupsSettingsWindow)
        groupsSettingsWindow->setModeButtons(modbusMode);
    applyMode(modbusMode);
}

void MainWindow::setCurrentMode(int id)
{
    ui->stacked_widget->setCurrentIndex(id);
}

void MainWindow::stackedWidgetIndexChanged(int index)
{
    if (index == 3 && groupsSettingsWindow)
        groupsSettingsWindow->fillFromModel();
    else if (index == 1)
        // The stack lays the page out when the event loop comes round: scroll after that.
        QTimer::singleShot(0, this,
                           [this] { updateGroupsWidgetList(groupButtons ? groupButtons->checkedId() : -1); });
}

void MainWindow::updateGroupsWidgetList(int first)
{
    if (first < 1 || first > groupContainers.size())
        return;
    int value = 0;
    for (int k = 0; k < first - 1; ++k)
        value += groupContainers[k]->height() + (derivLayout ? derivLayout->spacing() : 0);
    // A narrow group must not show the blank right part of a wide one.
    ui->deriv_container_scroll->horizontalScrollBar()->setValue(0);
    ui->deriv_container_scroll->verticalScrollBar()->setValue(value);
}

void MainWindow::updateGroupSelection()
{
    const int id = groupButtons ? groupButtons->checkedId() : -1;
    if (id < 0)
        return;
    for (QAbstractButton* button : groupButtons->buttons())
        if (groupButtons->id(button) != id)
            button->setChecked(false);
    showEnabledGroup(id);
}

void MainWindow::showEnabledGroup(int g)
{
    for (const QList<Battery*>& row : qAsConst(batteryRows))
        for (Battery* battery : row)
            battery->setHighlighted(g == 0 || battery->groupNumber() == g);
}

void MainWindow::showAllGroups()
{
    for (const QList<Battery*>& row : qAsConst(batteryRows))
        for (Battery* battery : row)
            battery->setHighlighted(true);
}

void MainWindow::on_chb_selection_clicked()
{
    hideNoGroupWidgets(ui->chb_selection->isChecked());
}

void MainWindow::hideNoGroupWidgets(bool hide)
{
    for (const QList<Battery*>& row : qAsConst(batteryRows))
        for (Battery* battery : row)
            battery->setHideIfUngrouped(hide);
}

void MainWindow::on_action_pdf_triggered()
{
    const QString path = QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                                         QLatin1String(manualFileName));
    const QString title = QCoreApplication::applicationName();
    if (!QFileInfo::exists(path)) {
        showMessage(QMessageBox::Warning, QApplication::activeWindow(), title,
                    tr("Невозможно открыть файл ") + QLatin1Char('`') + path + QLatin1Char('`') +
                        tr(". Файл не существует!"));
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        showMessage(QMessageBox::Information, QApplication::activeWindow(), title,
                    tr("Невозможно открыть файл ") + QLatin1Char('`') + path + QLatin1Char('`') +
                        tr(". Не найдена программа для его открытия!"));
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->label_help) {
        if (event->type() != QEvent::MouseButtonPress)
            return false;
        if (!QDesktopServices::openUrl(QUrl(QLatin1String(manualFileName))))
            showMessage(QMessageBox::Information, nullptr, tr("Ошибка"),
                        tr("Файл справки ORVIK-Monitor_manual.pdf не найден"));
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    QMessageBox box(QMessageBox::Question, tr("Выход"), tr("Вы уверены, что хотите выйти?"),
                    QMessageBox::Yes | QMessageBox::No);
    box.button(QMessageBox::Yes)->setText(tr("Выйти"));
    box.button(QMessageBox::No)->setText(tr("Отмена"));
    if (box.exec() == QMessageBox::Yes)
        event->accept();
    else
        event->ignore();
}
