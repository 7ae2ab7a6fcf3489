#include "config/GroupsSettingsWindow.h"

#include "config/BatteryListWidgetItem.h"
#include "config/FileNumber.h"
#include "config/GroupsSettingsWindowForm.h"
#include "config/MailSettingsBox.h"
#include "config/ModbusAddressList.h"
#include "config/ModbusTcpSettingsBox.h"
#include "config/MqttSettingsBox.h"
#include "config/ProgramMode.h"
#include "config/Settings.h"
#include "core/AlarmThresholds.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"

#include <QCheckBox>
#include <QDoubleValidator>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <cmath>

GroupsSettingsWindow* GroupsSettingsWindow::instance = nullptr;

namespace {
const QString kSettingsFile = QStringLiteral("settings.xml");

// A number the operator typed. The operator's own locale may write a decimal comma, so
// a comma counts as the decimal separator as well as a full stop, whatever the locale.
// Anything that is not a finite number reads as 0, which apply refuses.
double typedNumber(const QString& text)
{
    QString dotted = text;
    dotted.replace(QLatin1Char(','), QLatin1Char('.'));
    double value = 0.0;
    return FileNumber::parse(dotted, &value) ? value : 0.0;
}

// The journal size field takes exactly what typedNumber reads: a full stop or a comma,
// at most two decimals, 0 to 100, in any locale.
class JournalSizeValidator : public QDoubleValidator
{
public:
    explicit JournalSizeValidator(QObject* parent) : QDoubleValidator(0.0, 100.0, 2, parent)
    {
        setNotation(StandardNotation);
        QLocale c = QLocale::c();
        c.setNumberOptions(QLocale::RejectGroupSeparator);
        setLocale(c);
    }

    State validate(QString& input, int& pos) const override
    {
        QString dotted = input;
        dotted.replace(QLatin1Char(','), QLatin1Char('.'));
        const State state = QDoubleValidator::validate(dotted, pos);
        // The base class lets "150" stand as intermediate; no edit can bring it back
        // into range, and apply would take it, so it is refused here.
        if (state == Intermediate && typedNumber(dotted) > top())
            return Invalid;
        return state;
    }
};

// A limit as the table shows it: volts with two decimals, degrees with one, a decimal
// comma; off is an empty cell.
QString limitCellText(double value, int limit)
{
    if (std::isnan(value))
        return QString();
    const int decimals = limit < AbsoluteLimits::TempHighWarning ? 2 : 1;
    return QString::number(value, 'f', decimals).replace(QLatin1Char('.'), QLatin1Char(','));
}

// An empty (or blank) cell is off; false when the text is no finite number.
bool typedLimit(const QString& text, double* value)
{
    if (text.trimmed().isEmpty()) {
        *value = AbsoluteLimits::off;
        return true;
    }
    QString dotted = text;
    dotted.replace(QLatin1Char(','), QLatin1Char('.'));
    return FileNumber::parse(dotted, value);
}

bool samePublishing(const Settings& a, const QString& room, const Settings::Mqtt& m)
{
    const Settings::Mqtt& n = a.mqtt();
    return a.roomName() == room && n.enabled == m.enabled && n.host == m.host && n.port == m.port &&
           n.tlsCa == m.tlsCa && n.user == m.user && n.password == m.password && n.topic == m.topic &&
           n.haDiscovery == m.haDiscovery;
}

bool sameMail(const Settings::Mail& a, const Settings::Mail& b)
{
    return a.enabled == b.enabled && a.url == b.url && a.starttls == b.starttls && a.tlsCa == b.tlsCa &&
           a.user == b.user && a.password == b.password && a.from == b.from && a.to == b.to &&
           a.groupSeconds == b.groupSeconds && a.onConfirm == b.onConfirm;
}

bool sameServer(const Settings::ModbusTcp& a, const Settings::ModbusTcp& b)
{
    return a.enabled == b.enabled && a.address == b.address && a.port == b.port && a.unit == b.unit &&
           a.allow == b.allow;
}

BatteryListWidgetItem* batteryItem(QListWidgetItem* item)
{
    return item && item->type() == BatteryListWidgetItem::itemType ? static_cast<BatteryListWidgetItem*>(item)
                                                                   : nullptr;
}

void addItemFor(const BatteryListWidgetItem* item, QListWidget* list)
{
    new BatteryListWidgetItem(item->batteryId(), item->msdIndex(), item->mkpIndex(), list);
}
} // namespace

GroupsSettingsWindow::GroupsSettingsWindow(QWidget* parent)
    : QWidget(parent), ui(new GroupsSettingsWindowForm)
{
    ui->setupUi(this);
    instance = this;
    ui->lineEdit_journalSize->setValidator(new JournalSizeValidator(this));
    // The Modbus fields take effect as they change: the record follows them live.
    for (int i = 0; i < GroupsSettingsWindowForm::groupCount; ++i)
        for (QSpinBox* box : {ui->sb_group[i], ui->sb_d[i]})
            connect(box, QOverload<int>::of(&QSpinBox::valueChanged), this,
                    [this, i] { pushModbusFields(i + 1); });
    connect(ui->groupBox_mail, &MailSettingsBox::testRequested, this, &GroupsSettingsWindow::requestTestMail);
}

void GroupsSettingsWindow::pushModbusFields(int group)
{
    if (settings)
        settings->setModbusFields(group, ui->sb_group[group - 1]->value(), ui->sb_d[group - 1]->value());
}

GroupsSettingsWindow::~GroupsSettingsWindow()
{
    if (instance == this)
        instance = nullptr;
    delete ui;
}

void GroupsSettingsWindow::setSettings(Settings* record)
{
    settings = record;
    for (int g = 1; g <= GroupsSettingsWindowForm::groupCount; ++g)
        pushModbusFields(g);
}

void GroupsSettingsWindow::setGroups(const QList<BatteryGroup*>* list)
{
    groups = list;
}

void GroupsSettingsWindow::setBatteryRows(const QList<QList<Battery*>>* rows)
{
    batteryRows = rows;
}

QListWidget* GroupsSettingsWindow::listOf(int group) const
{
    if (group >= 1 && group <= GroupsSettingsWindowForm::groupCount)
        return ui->listWidget_group[group - 1];
    return ui->listWidget_channels;
}

void GroupsSettingsWindow::fillFromModel()
{
    for (int group = 0; group <= GroupsSettingsWindowForm::groupCount; ++group)
        listOf(group)->clear();
    if (batteryRows) {
        for (const QList<Battery*>& row : *batteryRows) {
            for (const Battery* battery : row)
                new BatteryListWidgetItem(battery->id(), battery->msdIndex(), battery->mkpIndex(),
                                          listOf(battery->groupNumber()));
        }
    }
    if (settings && settings->thresholds()) {
        const AlarmThresholds& t = *settings->thresholds();
        ui->lineEdit_warnUpperThreshold->setText(FileNumber::toText(t.voltHighWarning * 1000.0));
        ui->lineEdit_warnLowerThreshold->setText(FileNumber::toText(t.voltLowWarning * 1000.0));
        ui->lineEdit_warnTempThreshold->setText(FileNumber::toText(t.tempWarning));
        ui->lineEdit_crashUpperThreshold->setText(FileNumber::toText(t.voltHighEmergency * 1000.0));
        ui->lineEdit_crashLowerThreshold->setText(FileNumber::toText(t.voltLowEmergency * 1000.0));
        ui->lineEdit_crashTempThreshold->setText(FileNumber::toText(t.tempEmergency));
    }
    if (settings && settings->thresholds()) {
        const AlarmThresholds& t = *settings->thresholds();
        for (int row = 0; row <= GroupsSettingsWindowForm::groupCount; ++row)
            for (int i = 0; i < AbsoluteLimits::count; ++i)
                ui->tableWidget_limits->item(row, i)->setText(
                    limitCellText(row ? t.groupLimits[row - 1].value[i] : t.limits.value[i], i));
    }
    if (settings) {
        ui->checkBox_commLoss->setChecked(settings->commLossAlarm());
        ui->spinBox_commLossSweeps->setValue(settings->commLossSweeps());
        ui->checkBox_warnSound->setChecked(settings->warningAlarm());
        ui->checkBox_crashSound->setChecked(settings->emergencyAlarm());
        ui->lineEdit_journalSize->setText(FileNumber::toText(settings->journalSize()));
        ui->groupBox_mqtt->fill(*settings);
        ui->groupBox_modbusTcp->fill(*settings);
        ui->groupBox_mail->fill(*settings);
    }
}

void GroupsSettingsWindow::moveSelected(QListWidget* to, QListWidget* from)
{
    if (!to || !from || to == from)
        return;
    const QList<QListWidgetItem*> selected = from->selectedItems();
    for (QListWidgetItem* item : selected) {
        if (const BatteryListWidgetItem* battery = batteryItem(item))
            addItemFor(battery, to);
    }
    qDeleteAll(selected);
}

void GroupsSettingsWindow::moveAll(QListWidget* from)
{
    QListWidget* channels = ui->listWidget_channels;
    if (!from || from == channels)
        return;
    for (int i = 0; i < from->count(); ++i) {
        if (const BatteryListWidgetItem* battery = batteryItem(from->item(i)))
            addItemFor(battery, channels);
    }
    from->clear();
}

void GroupsSettingsWindow::moveIn(int group)
{
    moveSelected(listOf(group), ui->listWidget_channels);
}

void GroupsSettingsWindow::moveOut(int group)
{
    moveSelected(ui->listWidget_channels, listOf(group));
}

void GroupsSettingsWindow::moveAllOut(int group)
{
    moveAll(listOf(group));
}

void GroupsSettingsWindow::on_pbInGroup1_clicked()
{
    moveIn(1);
}
void GroupsSettingsWindow::on_pbOutGroup1_clicked()
{
    moveOut(1);
}
void GroupsSettingsWindow::on_pbInGroup2_clicked()
{
    moveIn(2);
}
void GroupsSettingsWindow::on_pbOutGroup2_clicked()
{
    moveOut(2);
}
void GroupsSettingsWindow::on_pbInGroup3_clicked()
{
    moveIn(3);
}
void GroupsSettingsWindow::on_pbOutGroup3_clicked()
{
    moveOut(3);
}
void GroupsSettingsWindow::on_pbInGroup4_clicked()
{
    moveIn(4);
}
void GroupsSettingsWindow::on_pbOutGroup4_clicked()
{
    moveOut(4);
}
void GroupsSettingsWindow::on_pbInGroup5_clicked()
{
    moveIn(5);
}
void GroupsSettingsWindow::on_pbOutGroup5_clicked()
{
    moveOut(5);
}
void GroupsSettingsWindow::on_pbInGroup6_clicked()
{
    moveIn(6);
}
void GroupsSettingsWindow::on_pbOutGroup6_clicked()
{
    moveOut(6);
}
void GroupsSettingsWindow::on_pbOutAllGroup1_clicked()
{
    moveAllOut(1);
}
void GroupsSettingsWindow::on_pbOutAllGroup2_clicked()
{
    moveAllOut(2);
}
void GroupsSettingsWindow::on_pbOutAllGroup3_clicked()
{
    moveAllOut(3);
}
void GroupsSettingsWindow::on_pbOutAllGroup4_clicked()
{
    moveAllOut(4);
}
void GroupsSettingsWindow::on_pbOutAllGroup5_clicked()
{
    moveAllOut(5);
}
void GroupsSettingsWindow::on_pbOutAllGroup6_clicked()
{
    moveAllOut(6);
}

void GroupsSettingsWindow::on_rbModeModbus_pressed()
{
    modbusMode = true;
    emit modeChosen(true);
}

void GroupsSettingsWindow::on_rbModeOrvik_pressed()
{
    modbusMode = false;
    emit modeChosen(false);
}

void GroupsSettingsWindow::on_pushButton_apply_clicked()
{
    if (!settings || !settings->thresholds() || !groups || !batteryRows)
        return;

    AlarmThresholds read;
    read.voltLowEmergency = typedNumber(ui->lineEdit_crashLowerThreshold->text()) / 1000.0;
    read.tempEmergency = typedNumber(ui->lineEdit_crashTempThreshold->text());
    read.voltHighEmergency = typedNumber(ui->lineEdit_crashUpperThreshold->text()) / 1000.0;
    read.voltLowWarning = typedNumber(ui->lineEdit_warnLowerThreshold->text()) / 1000.0;
    read.tempWarning = typedNumber(ui->lineEdit_warnTempThreshold->text());
    read.voltHighWarning = typedNumber(ui->lineEdit_warnUpperThreshold->text()) / 1000.0;
    const double journalSize = typedNumber(ui->lineEdit_journalSize->text());
    const bool crashSound = ui->checkBox_crashSound->isChecked();
    const bool warnSound = ui->checkBox_warnSound->isChecked();

    const double all[] = {read.voltLowEmergency, read.tempEmergency, read.voltHighEmergency,
                          read.voltLowWarning,   read.tempWarning,   read.voltHighWarning};
    for (double value : all) {
        if (value <= 0.0) {
            tellOperator(tr("Значения должны быть положительными!"));
            return;
        }
    }
    if (read.voltLowWarning >= read.voltLowEmergency || read.voltHighWarning >= read.voltHighEmergency ||
        read.tempWarning >= read.tempEmergency) {
        tellOperator(tr("Значение для предупреждения должно быть ниже значения для аварии!"));
        return;
    }
    if (journalSize < 1.0) {
        tellOperator(tr("Размер журнала не может быть меньше 1Мб!"));
        return;
    }
    if (!readLimits(&read))
        return;
    // Read last: the sections take their values into the record as soon as they all hold, so
    // the server's go to a scratch record until the MQTT section has held too.
    const QString roomBefore = settings->roomName();
    const Settings::Mqtt mqttBefore = settings->mqtt();
    const Settings::ModbusTcp serverBefore = settings->modbusTcp();
    const Settings::Mail mailBefore = settings->mail();
    Settings scratch;
    QString whyNot;
    if (!ui->groupBox_modbusTcp->read(&scratch, &whyNot) || !ui->groupBox_mail->read(&scratch, &whyNot) ||
        !ui->groupBox_mqtt->read(settings, &whyNot)) {
        tellOperator(whyNot);
        return;
    }
    settings->setModbusTcp(scratch.modbusTcp());
    settings->setMail(scratch.mail());

    *settings->thresholds() = read;
    settings->setCommLossAlarm(ui->checkBox_commLoss->isChecked());
    settings->setCommLossSweeps(ui->spinBox_commLossSweeps->value());
    settings->setEmergencyAlarm(crashSound);
    settings->setWarningAlarm(warnSound);
    settings->setJournalSize(journalSize);

    for (BatteryGroup* group : *groups)
        group->clearBatteries();
    for (const QList<Battery*>& row : *batteryRows) {
        for (Battery* battery : row) {
            for (int number = 0; number <= GroupsSettingsWindowForm::groupCount; ++number) {
                const QListWidget* list = listOf(number);
                for (int i = 0; i < list->count(); ++i) {
                    const BatteryListWidgetItem* item = batteryItem(list->item(i));
                    if (!item || item->batteryId() != battery->id())
                        continue;
                    if (number < groups->size())
                        groups->at(number)->addBattery(battery);
                    settings->setGroupOf(battery->msdIndex(), battery->mkpIndex(), number);
                }
            }
        }
    }

    // The captions and the next judgement see the new members' means at once.
    for (BatteryGroup* group : *groups)
        group->recalculate();
    emit groupsChanged();
    const bool saved = settings->save(kSettingsFile);
    // The applied values stay in force for this run whether or not the file was written;
    // the address list is rebuilt before the message box holds the operator up.
    updateModbusAddressList();
    if (!samePublishing(*settings, roomBefore, mqttBefore))
        emit publishingChanged();
    if (!sameServer(settings->modbusTcp(), serverBefore))
        emit serverChanged();
    // The room's name stands in every mail's subject.
    if (!sameMail(settings->mail(), mailBefore) || settings->roomName() != roomBefore)
        emit mailChanged();
    if (!saved)
        tellOperator(tr("Не удалось сохранить настройки в файл settings.xml") + QLatin1Char('\n') +
                     settings->lastSaveError());
}

bool GroupsSettingsWindow::readLimits(AlarmThresholds* read)
{
    for (int row = 0; row <= GroupsSettingsWindowForm::groupCount; ++row) {
        AbsoluteLimits& limits = row ? read->groupLimits[row - 1] : read->limits;
        for (int i = 0; i < AbsoluteLimits::count; ++i) {
            if (!typedLimit(ui->tableWidget_limits->item(row, i)->text(), &limits.value[i])) {
                tellOperator(tr("Пределы должны быть числами!"));
                return false;
            }
        }
    }
    // A group's pair is judged with the installation's limits where it has none.
    for (int row = 0; row <= GroupsSettingsWindowForm::groupCount; ++row) {
        const AbsoluteLimits& limits = row ? read->groupLimits[row - 1] : read->limits;
        const AbsoluteLimits fallback = row ? read->limits : AbsoluteLimits();
        for (int warning = 0; warning < AbsoluteLimits::count; warning += 2) {
            if (limits.pairFits(AbsoluteLimits::Limit(warning), fallback))
                continue;
            const bool negative = warning < AbsoluteLimits::TempHighWarning &&
                                  (limits.value[warning] < 0 || limits.value[warning + 1] < 0);
            tellOperator(negative
                             ? tr("Предел по напряжению не может быть отрицательным!")
                             : tr("Предел предупреждения должен быть ближе к норме, чем предел аварии!"));
            return false;
        }
    }
    return true;
}

void GroupsSettingsWindow::on_pushButton_cancel_clicked()
{
    fillFromModel();
}

void GroupsSettingsWindow::showMailTestOutcome(const QString& text)
{
    ui->groupBox_mail->showTestOutcome(text);
}

// The unsaved fields and room name go out as they stand; nothing is saved.
void GroupsSettingsWindow::requestTestMail()
{
    Settings::Mail mail;
    QString whyNot;
    if (!ui->groupBox_mail->readForTest(&mail, &whyNot)) {
        showMailTestOutcome(whyNot);
        return;
    }
    const auto* roomField = ui->groupBox_mqtt->findChild<QLineEdit*>(QStringLiteral("lineEdit_roomName"));
    const QString room = roomField ? roomField->text().trimmed() : QString();
    showMailTestOutcome(tr("Отправка…"));
    emit mailTestRequested(mail, room.isEmpty() ? Settings::defaultRoomName() : room);
}

void GroupsSettingsWindow::tellOperator(const QString& text)
{
    QMessageBox::information(this, tr("Ошибка!"), text, QMessageBox::Ok);
}

void GroupsSettingsWindow::setModeButtons(bool modbus)
{
    ui->rbModeModbus->setChecked(modbus);
    ui->rbModeOrvik->setChecked(!modbus);
}

void GroupsSettingsWindow::setModeBoxEnabled(bool enabled)
{
    ui->groupBox->setEnabled(enabled);
}

void GroupsSettingsWindow::showModbusFields(bool modbus)
{
    for (int i = 0; i < GroupsSettingsWindowForm::groupCount; ++i) {
        ui->lb_adr[i]->setVisible(modbus);
        ui->sb_group[i]->setVisible(modbus);
        ui->lb_dat[i]->setVisible(modbus);
        ui->sb_d[i]->setVisible(modbus);
    }
}

void GroupsSettingsWindow::updateModbusAddressList()
{
    modbusAddressList.clear();
    for (int group = 1; group <= GroupsSettingsWindowForm::groupCount; ++group) {
        if (listOf(group)->count() > 0)
            modbusAddressList.append(ui->sb_group[group - 1]->value());
    }
}

QSpinBox* GroupsSettingsWindow::addressBox(int group)
{
    return instance && group >= 1 && group <= GroupsSettingsWindowForm::groupCount
               ? instance->ui->sb_group[group - 1]
               : nullptr;
}

QSpinBox* GroupsSettingsWindow::sensorBox(int group)
{
    return instance && group >= 1 && group <= GroupsSettingsWindowForm::groupCount
               ? instance->ui->sb_d[group - 1]
               : nullptr;
}

int GroupsSettingsWindow::groupModbusAddress(int group)
{
    const QSpinBox* box = addressBox(group);
    return box ? box->value() : -1;
}

QString GroupsSettingsWindow::groupModbusAddressText(int group)
{
    const QSpinBox* box = addressBox(group);
    return box ? QString::number(box->value()) : QStringLiteral("error");
}

int GroupsSettingsWindow::groupFirstSensor(int group)
{
    const QSpinBox* box = sensorBox(group);
    return box ? box->value() : -1;
}

QString GroupsSettingsWindow::groupFirstSensorText(int group)
{
    const QSpinBox* box = sensorBox(group);
    return box ? QString::number(box->value()) : QStringLiteral("error");
}

void GroupsSettingsWindow::setGroupModbusAddress(int group, int value)
{
    if (QSpinBox* box = addressBox(group))
        box->setValue(value);
}

void GroupsSettingsWindow::setGroupFirstSensor(int group, int value)
{
    if (QSpinBox* box = sensorBox(group))
        box->setValue(value);
}
