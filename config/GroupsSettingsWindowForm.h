#pragma once

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class MailSettingsBox;
class ModbusTcpSettingsBox;
class MqttSettingsBox;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QSpinBox;
class QTableWidget;
class QWidget;

// The settings page's form, built in code the way a form compiler would build it: fixed
// object names, texts through the translation function. Index 0 of each array is group 1.
struct GroupsSettingsWindowForm
{
    static constexpr int groupCount = 6;

    QScrollArea* scrollArea_settings = nullptr;
    QLabel* label = nullptr;
    QLabel* label_channels = nullptr;
    QListWidget* listWidget_channels = nullptr;
    QLabel* label_group[groupCount] = {};
    QListWidget* listWidget_group[groupCount] = {};
    QPushButton* pbInGroup[groupCount] = {};
    QPushButton* pbOutGroup[groupCount] = {};
    QPushButton* pbOutAllGroup[groupCount] = {};
    QLabel* lb_adr[groupCount] = {};
    QSpinBox* sb_group[groupCount] = {};
    QLabel* lb_dat[groupCount] = {};
    QSpinBox* sb_d[groupCount] = {};

    QLabel* label_warning = nullptr;
    QLabel* label_crash = nullptr;
    QLabel* label_voltUpper = nullptr;
    QLabel* label_voltLower = nullptr;
    QLabel* label_temp = nullptr;
    QLabel* label_sound = nullptr;
    QLabel* label_unitUpper = nullptr;
    QLabel* label_unitLower = nullptr;
    QLabel* label_unitTemp = nullptr;
    QLineEdit* lineEdit_warnUpperThreshold = nullptr;
    QLineEdit* lineEdit_crashUpperThreshold = nullptr;
    QLineEdit* lineEdit_warnLowerThreshold = nullptr;
    QLineEdit* lineEdit_crashLowerThreshold = nullptr;
    QLineEdit* lineEdit_warnTempThreshold = nullptr;
    QLineEdit* lineEdit_crashTempThreshold = nullptr;
    QCheckBox* checkBox_warnSound = nullptr;
    QCheckBox* checkBox_crashSound = nullptr;
    QLabel* label_2 = nullptr;
    QLineEdit* lineEdit_journalSize = nullptr;
    QGroupBox* groupBox = nullptr;
    QRadioButton* rbModeModbus = nullptr;
    QRadioButton* rbModeOrvik = nullptr;
    // Absolute limits: row 0 the installation, rows 1..6 the groups; columns in
    // AbsoluteLimits order. Communication loss beside them.
    QGroupBox* groupBox_limits = nullptr;
    QTableWidget* tableWidget_limits = nullptr;
    QCheckBox* checkBox_commLoss = nullptr;
    QLabel* label_commLossSweeps = nullptr;
    QSpinBox* spinBox_commLossSweeps = nullptr;
    // Under the limits: the page scrolls there as it does to the table.
    MqttSettingsBox* groupBox_mqtt = nullptr;
    ModbusTcpSettingsBox* groupBox_modbusTcp = nullptr;
    MailSettingsBox* groupBox_mail = nullptr;
    QPushButton* pushButton_apply = nullptr;
    QPushButton* pushButton_cancel = nullptr;

    void setupUi(QWidget* window);
    void retranslateUi(QWidget* window);
};
