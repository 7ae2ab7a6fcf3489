#include "journal/Event.h"

#include "core/Battery.h"
#include "core/BatteryGroup.h"

Event::Event(Battery* battery, bool isStarted, bool isConfirmed)
    : m_time(QDateTime::currentDateTime()), m_isStarted(isStarted), m_isConfirmed(isConfirmed)
{
    if (!battery)
        return;
    m_msdIndex = battery->msdIndex();
    m_mkpIndex = battery->mkpIndex();
    m_groupNumber = battery->groupNumber();
    m_temperature = battery->temperature();
    m_voltage = battery->voltage();
    // The group recomputes its means on every query, so these are the means of this moment.
    if (BatteryGroup* group = battery->group()) {
        m_tempDeviation = m_temperature - group->meanTemperature();
        m_voltDeviation = m_voltage - group->meanVoltage();
    }
    m_tempState = battery->tempState();
    m_voltState = battery->voltState();
    takeLimit(*battery);
}

void Event::takeLimit(const Battery& battery)
{
    const AbsoluteLimits::Limit volt = battery.voltLimit(), temp = battery.tempLimit();
    if (volt == AbsoluteLimits::count && temp == AbsoluteLimits::count)
        return;
    // The paragraph names the limit of the quantity that changed; when both or neither did
    // (a confirmation), the higher state's, voltage first.
    const bool voltChanged = m_voltState != battery.prevVoltState();
    const bool tempChanged = m_tempState != battery.prevTempState();
    bool useVolt = volt != AbsoluteLimits::count;
    if (voltChanged != tempChanged)
        useVolt = voltChanged;
    else if (useVolt && temp != AbsoluteLimits::count)
        useVolt = m_voltState >= m_tempState;
    const AbsoluteLimits::Limit limit = useVolt ? volt : temp;
    if (limit == AbsoluteLimits::count)
        return;
    setLimit(AbsoluteLimits::quantityOf(limit), AbsoluteLimits::directionOf(limit),
             useVolt ? battery.voltLimitValue() : battery.tempLimitValue());
}

Event::Event(int msdIndex, int mkpIndex, int groupNumber, const QDateTime& time, double temperature,
             double voltage, double tempDeviation, double voltDeviation, bool isStarted, bool isConfirmed,
             int tempState, int voltState)
    : m_time(time), m_msdIndex(msdIndex), m_mkpIndex(mkpIndex), m_groupNumber(groupNumber),
      m_temperature(temperature), m_voltage(voltage), m_tempDeviation(tempDeviation),
      m_voltDeviation(voltDeviation), m_tempState(tempState), m_voltState(voltState), m_isStarted(isStarted),
      m_isConfirmed(isConfirmed)
{
}

bool Event::operator==(const Event& other) const
{
    return m_time == other.m_time && m_msdIndex == other.m_msdIndex && m_mkpIndex == other.m_mkpIndex &&
           m_groupNumber == other.m_groupNumber && m_temperature == other.m_temperature &&
           m_voltage == other.m_voltage && m_tempDeviation == other.m_tempDeviation &&
           m_voltDeviation == other.m_voltDeviation && m_tempState == other.m_tempState &&
           m_voltState == other.m_voltState && m_isStarted == other.m_isStarted &&
           m_isConfirmed == other.m_isConfirmed && m_kind == other.m_kind &&
           m_modbusAddress == other.m_modbusAddress && m_limitQuantity == other.m_limitQuantity &&
           m_limitDirection == other.m_limitDirection && m_limitValue == other.m_limitValue;
}

Event Event::communication(Kind kind, int msdIndex, int groupNumber, int modbusAddress, const QDateTime& time,
                           bool isConfirmed)
{
    Event e;
    e.m_kind = kind;
    e.m_msdIndex = msdIndex;
    e.m_groupNumber = groupNumber;
    e.m_modbusAddress = modbusAddress;
    e.m_time = time;
    e.m_isStarted = kind == Kind::CommLost;
    e.m_isConfirmed = isConfirmed;
    return e;
}

void Event::setLimit(char quantity, char direction, double value)
{
    m_limitQuantity = quantity;
    m_limitDirection = direction;
    m_limitValue = value;
}
