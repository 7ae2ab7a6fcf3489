#include "core/Battery.h"

#include "core/AlarmThresholds.h"
#include "core/BatteryGroup.h"
#include "core/StateCode.h"

#include <algorithm>
#include <cmath>

namespace {
// The higher of the deviation state and the state against the absolute limits of one
// quantity; *crossed names the limit when the state comes from it.
int withLimits(int deviationState, const AbsoluteLimits& limits, AbsoluteLimits::Limit first, double reading,
               AbsoluteLimits::Limit* crossed, double* crossedValue)
{
    const AbsoluteLimits::Limit limit = limits.crossed(first, reading);
    *crossed = AbsoluteLimits::count;
    if (limit == AbsoluteLimits::count)
        return deviationState;
    const int state = AbsoluteLimits::isEmergency(limit) ? StateCode::Emergency : StateCode::Warning;
    if (state < deviationState)
        return deviationState;
    *crossed = limit;
    *crossedValue = limits.value[limit];
    return state;
}
} // namespace

Battery::Battery(int id, int msdIndex, int mkpIndex) : m_id(id), m_msdIndex(msdIndex), m_mkpIndex(mkpIndex) {}

void Battery::show(BatteryView::Change change) const
{
    if (m_widget)
        m_widget->showBattery(this, change);
}

void Battery::setTemperature(double t)
{
    m_temperature = t;
    show(BatteryView::Change::Temperature);
}

void Battery::setVoltage(double u)
{
    m_voltage = u;
    show(BatteryView::Change::Voltage);
}

void Battery::setWidget(BatteryView* widget)
{
    m_widget = widget;
    show(BatteryView::Change::All);
}

void Battery::setThresholds(AlarmThresholds* thresholds)
{
    m_thresholds = thresholds;
}

int Battery::groupNumber() const
{
    return m_group ? m_group->number() : 0;
}

void Battery::setGroup(BatteryGroup* group)
{
    m_group = group;
    show(BatteryView::Change::Group);
}

void Battery::setState(int state)
{
    m_state = state;
    show(BatteryView::Change::State);
}

int Battery::voltState() const
{
    return m_state == StateCode::None ? StateCode::None : m_voltState;
}

int Battery::tempState() const
{
    return m_state == StateCode::None ? StateCode::None : m_tempState;
}

void Battery::updateState()
{
    // Without thresholds or a group (the groups are being rebuilt) there is nothing to judge against.
    if (!m_thresholds || !m_group)
        return;
    const AlarmThresholds& t = *m_thresholds;
    // Only the operator's groups have limits; the others are judged as before.
    const int group = m_group->number();
    const AbsoluteLimits limits = group >= 1 && group <= 6 ? t.limitsFor(group) : AbsoluteLimits();

    int newTemp = StateCode::None;
    m_tempLimit = m_voltLimit = AbsoluteLimits::count;
    if (!m_noData) {
        const double dT = std::fabs(m_temperature - m_group->meanTemperature());
        newTemp = dT > t.tempEmergency ? StateCode::Emergency
                  : dT > t.tempWarning ? StateCode::Warning
                                       : StateCode::Normal;
        newTemp = withLimits(newTemp, limits, AbsoluteLimits::TempHighWarning, m_temperature, &m_tempLimit,
                             &m_tempLimitValue);
    }
    if (newTemp != m_tempState)
        setConfirmed(false);
    m_prevTempState = m_tempState;
    m_tempState = newTemp;

    int newVolt = StateCode::None;
    if (!m_noData) {
        const double dU = m_voltage - m_group->meanVoltage();
        if (dU > t.voltHighEmergency || -dU > t.voltLowEmergency)
            newVolt = StateCode::Emergency;
        else if (dU > t.voltHighWarning || -dU > t.voltLowWarning)
            newVolt = StateCode::Warning;
        else
            newVolt = StateCode::Normal;
        newVolt = withLimits(newVolt, limits, AbsoluteLimits::VoltHighWarning, m_voltage, &m_voltLimit,
                             &m_voltLimitValue);
    }
    if (newVolt != m_voltState)
        setConfirmed(false);
    m_prevVoltState = m_voltState;
    m_voltState = newVolt;

    setState(m_noData ? StateCode::None : std::max(m_tempState, m_voltState));
}

void Battery::setConfirmed(bool confirmed)
{
    m_confirmed = confirmed;
    show(BatteryView::Change::Confirmed);
}

void Battery::setNoData(bool noData)
{
    m_noData = noData;
    if (noData)
        setState(StateCode::None);
}

void Battery::setHighlighted(bool on)
{
    if (m_widget)
        m_widget->setHighlighted(on);
}

void Battery::setHideIfUngrouped(bool hide)
{
    if (m_widget)
        m_widget->setHideIfUngrouped(hide);
}

void Battery::reset()
{
    setTemperature(0.0);
    setVoltage(0.0);
    m_voltState = m_tempState = 0;
    m_prevVoltState = m_prevTempState = 0;
    m_voltLimit = m_tempLimit = AbsoluteLimits::count;
    setState(StateCode::None);
    setConfirmed(false);
    m_noData = false;
}
