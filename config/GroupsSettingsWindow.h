#pragma once

#include "config/Settings.h"

#include <QList>
#include <QWidget>

class Battery;
class BatteryGroup;
class QListWidget;
class QSpinBox;
struct AlarmThresholds;
struct GroupsSettingsWindowForm;

// The settings page: the operator distributes the batteries among the six groups, sets
// each group's Modbus address and first sensor, the thresholds, the absolute limits, the
// sounds, communication loss, the journal size, the mode, the publishing to an MQTT broker,
// the Modbus TCP server and the alarm mail. List edits reach the groups, the records and
// settings.xml only on "Применить". The device link and the settings file read each group's
// address and first sensor through the static accessors, which answer -1 / "error" while no
// page exists.
class GroupsSettingsWindow : public QWidget
{
    Q_OBJECT
public:
    explicit GroupsSettingsWindow(QWidget* parent = nullptr);
    ~GroupsSettingsWindow() override;

    static GroupsSettingsWindow* instance;

    void setSettings(Settings* settings);
    void setGroups(const QList<BatteryGroup*>* groups);
    void setBatteryRows(const QList<QList<Battery*>>* rows);

    // Lists, thresholds, limits, sounds, communication loss and journal size from the groups
    // and records; the spin boxes and the mode buttons are left alone.
    void fillFromModel();
    void moveSelected(QListWidget* to, QListWidget* from);
    void moveAll(QListWidget* from);

    void setModeButtons(bool modbus);
    void setModeBoxEnabled(bool enabled);
    // Address and sensor fields mean something in the Modbus mode only.
    void showModbusFields(bool modbus);
    void updateModbusAddressList();

    static int groupModbusAddress(int group);
    static QString groupModbusAddressText(int group);
    static int groupFirstSensor(int group);
    static QString groupFirstSensorText(int group);
    static void setGroupModbusAddress(int group, int value);
    static void setGroupFirstSensor(int group, int value);

signals:
    void groupsChanged();
    // The operator picked a mode on the page; modbusMode already holds it.
    void modeChosen(bool modbus);
    // An apply changed the room's name or how it is published; the publisher starts afresh.
    void publishingChanged();
    // After an apply that changed a Modbus TCP server setting.
    void serverChanged();
    // After an apply that changed a mail setting.
    void mailChanged();
    // «Отправить тестовое письмо» with the section's fields as they stand, saved or not.
    void mailTestRequested(const Settings::Mail& mail, const QString& room);

public slots:
    // The test mail's outcome, shown beside its button.
    void showMailTestOutcome(const QString& text);

private slots:
    void on_pbInGroup1_clicked();
    void on_pbOutGroup1_clicked();
    void on_pbInGroup2_clicked();
    void on_pbOutGroup2_clicked();
    void on_pbInGroup3_clicked();
    void on_pbOutGroup3_clicked();
    void on_pbInGroup4_clicked();
    void on_pbOutGroup4_clicked();
    void on_pbInGroup5_clicked();
    void on_pbOutGroup5_clicked();
    void on_pbInGroup6_clicked();
    void on_pbOutGroup6_clicked();
    void on_pbOutAllGroup1_clicked();
    void on_pbOutAllGroup2_clicked();
    void on_pbOutAllGroup3_clicked();
    void on_pbOutAllGroup4_clicked();
    void on_pbOutAllGroup5_clicked();
    void on_pbOutAllGroup6_clicked();
    void on_rbModeModbus_pressed();
    void on_rbModeOrvik_pressed();
    void on_pushButton_apply_clicked();
    void on_pushButton_cancel_clicked();
    void requestTestMail();

private:
    // 0 is the channel list, 1..6 the group lists.
    QListWidget* listOf(int group) const;
    void moveIn(int group);
    void moveOut(int group);
    void moveAllOut(int group);
    void tellOperator(const QString& text);
    // The limits table into *read; false, the operator told why, when it is refused.
    bool readLimits(AlarmThresholds* read);

    void pushModbusFields(int group);
    static QSpinBox* addressBox(int group);
    static QSpinBox* sensorBox(int group);

    GroupsSettingsWindowForm* ui;
    Settings* settings = nullptr;
    const QList<BatteryGroup*>* groups = nullptr;
    const QList<QList<Battery*>>* batteryRows = nullptr;
};
