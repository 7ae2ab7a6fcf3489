#include "core/BatteryGroup.h"

#include "core/Battery.h"
#include "core/DecimalComma.h"

#include <QCoreApplication>

BatteryGroup::BatteryGroup(int number) : m_number(number) {}

Battery* BatteryGroup::batteryAt(int i) const
{
    return i >= 0 && i < m_batteries.size() ? m_batteries.at(i) : nullptr;
}

void BatteryGroup::addBattery(Battery* battery)
{
    if (!battery)
        return;
    battery->setGroup(this);
    m_batteries.append(battery);
}

void BatteryGroup::clearBatteries()
{
    for (Battery* battery : qAsConst(m_batteries))
        battery->setGroup(nullptr);
    m_batteries.clear();
}

double BatteryGroup::mean(Reading reading) const
{
    double sum = 0.0;
    int count = 0;
    for (const Battery* battery : m_batteries) {
        if (battery->hasNoData())
            continue;
        sum += reading == Reading::Temperature ? battery->temperature() : battery->voltage();
        ++count;
    }
    return count > 0 ? sum / count : 0.0;
}

void BatteryGroup::recalculate()
{
    m_meanTemperature = mean(Reading::Temperature);
    m_meanVoltage = mean(Reading::Voltage);
    updateButtonText();
}

void BatteryGroup::setButton(GroupCaptionView* button)
{
    m_button = button;
    m_shownCaption.clear();
    updateButtonText();
}

void BatteryGroup::setIdle(bool idle)
{
    m_idle = idle;
    updateButtonText();
}

QString BatteryGroup::caption() const
{
    const double u = m_idle ? 0.0 : m_meanVoltage;
    const double t = m_idle ? 0.0 : m_meanTemperature;
    return QCoreApplication::translate("BatteryGroup", "Группа ") + QString::number(m_number) +
           QStringLiteral(" (Ucp=") + decimalComma("%4.2f", u) + QStringLiteral(" B, Tcp=") +
           decimalComma("%3.1f", t) + QCoreApplication::translate("BatteryGroup", " °C)");
}

void BatteryGroup::updateButtonText()
{
    if (!m_button)
        return;
    const QString text = caption();
    if (text != m_shownCaption)
        m_button->showCaption(m_shownCaption = text);
}
