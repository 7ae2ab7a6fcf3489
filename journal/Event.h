#pragma once

#include <QDateTime>
#include <QMetaType>

class Battery;

// One journal event: an alarm's beginning, ending or confirmation, with the battery's values
// at the moment it was raised, or a module's (device's) communication lost or restored.
// A plain value that travels between threads as a copy.
class Event
{
public:
    enum class Kind
    {
        Alarm,
        CommLost,
        CommRestored
    };

    Event() = default;
    // Takes the battery's values now; call it on the thread that owns the battery.
    Event(Battery* battery, bool isStarted, bool isConfirmed);
    Event(int msdIndex, int mkpIndex, int groupNumber, const QDateTime& time, double temperature,
          double voltage, double tempDeviation, double voltDeviation, bool isStarted, bool isConfirmed,
          int tempState, int voltState);

    QDateTime time() const { return m_time; }
    int msdIndex() const { return m_msdIndex; }
    int mkpIndex() const { return m_mkpIndex; }
    int groupNumber() const { return m_groupNumber; }
    double temperature() const { return m_temperature; }
    double voltage() const { return m_voltage; }
    double tempDeviation() const { return m_tempDeviation; }
    double voltDeviation() const { return m_voltDeviation; }
    int tempState() const { return m_tempState; }
    int voltState() const { return m_voltState; }
    bool isStarted() const { return m_isStarted; }
    bool isConfirmed() const { return m_isConfirmed; }

    // Communication events name a module (native mode, modbusAddress 0) or a group's device.
    static Event communication(Kind kind, int msdIndex, int groupNumber, int modbusAddress,
                               const QDateTime& time, bool isConfirmed);
    Kind kind() const { return m_kind; }
    int modbusAddress() const { return m_modbusAddress; }

    // The absolute limit the alarm's state comes from: quantity 'U' or 'T', direction '>' or
    // '<'; quantity 0 when the state comes from the deviation alone.
    char limitQuantity() const { return m_limitQuantity; }
    char limitDirection() const { return m_limitDirection; }
    double limitValue() const { return m_limitValue; }
    void setLimit(char quantity, char direction, double value);

    // The running battery number shown in Modbus mode, 1..128.
    int batteryNumber() const { return m_msdIndex * 8 + m_mkpIndex + 1; }

    bool operator==(const Event& other) const;
    bool operator!=(const Event& other) const { return !(*this == other); }

private:
    void takeLimit(const Battery& battery);

    QDateTime m_time;
    int m_msdIndex = 0;
    int m_mkpIndex = 0;
    int m_groupNumber = 0;
    double m_temperature = 0.0;
    double m_voltage = 0.0;
    double m_tempDeviation = 0.0;
    double m_voltDeviation = 0.0;
    int m_tempState = 0;
    int m_voltState = 0;
    bool m_isStarted = false;
    bool m_isConfirmed = false;
    Kind m_kind = Kind::Alarm;
    int m_modbusAddress = 0;
    char m_limitQuantity = 0;
    char m_limitDirection = 0;
    double m_limitValue = 0.0;
};

Q_DECLARE_METATYPE(Event)
