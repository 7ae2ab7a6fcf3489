#include "config/GroupsSettingsWindow.h"

#include <QGridLayout>
#include <QLabel>
#include <QSpinBox>

GroupsSettingsWindow* GroupsSettingsWindow::instance = nullptr;

GroupsSettingsWindow::GroupsSettingsWindow(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("GroupsSettingsWindow"));
    setWindowTitle(QStringLiteral("Form"));
    auto* layout = new QGridLayout(this);
    for (int g = 1; g <= 6; ++g) {
        auto* address = new QSpinBox(this);
        address->setObjectName(QStringLiteral("sb_group%1").arg(g));
        address->setRange(1, 247);
        address->setToolTip(tr("адрес устройства Modbus"));
        auto* sensor = new QSpinBox(this);
        sensor->setObjectName(QStringLiteral("sb_d%1").arg(g));
        sensor->setRange(0, 127);
        auto* addressLabel = new QLabel(tr("Адрес:"), this);
        addressLabel->setObjectName(QStringLiteral("lb_adr%1").arg(g));
        auto* sensorLabel = new QLabel(tr("Датчик:"), this);
        sensorLabel->setObjectName(QStringLiteral("lb_dat%1").arg(g));
        layout->addWidget(addressLabel, g, 0);
        layout->addWidget(address, g, 1);
        layout->addWidget(sensorLabel, g, 2);
        layout->addWidget(sensor, g, 3);
        m_addressBoxes[g - 1] = address;
        m_sensorBoxes[g - 1] = sensor;
    }
    instance = this;
}

GroupsSettingsWindow::~GroupsSettingsWindow()
{
    if (instance == this)
        instance = nullptr;
}

QSpinBox* GroupsSettingsWindow::addressBox(int group)
{
    return instance && group >= 1 && group <= 6 ? instance->m_addressBoxes[group - 1] : nullptr;
}

QSpinBox* GroupsSettingsWindow::sensorBox(int group)
{
    return instance && group >= 1 && group <= 6 ? instance->m_sensorBoxes[group - 1] : nullptr;
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
