#include "config/Settings.h"

#include "config/FileNumber.h"
#include "config/ProgramMode.h"
#include "core/AlarmThresholds.h"

#include <QDomDocument>
#include <QFile>
#include <QSaveFile>
#include <QSysInfo>
#include <cmath>

namespace {
const QString kTrue = QStringLiteral("true");
const QString kFalse = QStringLiteral("false");

// The eight limits' element names in AbsoluteLimits order; a group's carry "_1".."_6".
const char* const kLimitTags[AbsoluteLimits::count] = {
    "volt_abs_high_warning", "volt_abs_high_emergency", "volt_abs_low_warning", "volt_abs_low_emergency",
    "temp_abs_high_warning", "temp_abs_high_emergency", "temp_abs_low_warning", "temp_abs_low_emergency"};

QString limitTag(int limit, int group)
{
    const QString tag = QLatin1String(kLimitTags[limit]);
    return group ? tag + QLatin1Char('_') + QString::number(group) : tag;
}

// An empty text is off.
QString limitText(double value)
{
    return std::isnan(value) ? QString() : FileNumber::toText(value);
}

// Each warning and emergency pair of the candidates that fits replaces the old pair.
AbsoluteLimits acceptedLimits(const AbsoluteLimits& candidates, const AbsoluteLimits& old,
                              const AbsoluteLimits& fallback)
{
    AbsoluteLimits accepted = old;
    for (int warning = 0; warning < AbsoluteLimits::count; warning += 2) {
        if (candidates.pairFits(AbsoluteLimits::Limit(warning), fallback)) {
            accepted.value[warning] = candidates.value[warning];
            accepted.value[warning + 1] = candidates.value[warning + 1];
        }
    }
    return accepted;
}

QString boolText(bool on)
{
    return on ? kTrue : kFalse;
}

// Integer in [low, high] from a base-10 text; false for anything else.
bool intInRange(const QString& text, int low, int high, int* value)
{
    int v = 0;
    if (text.isEmpty() || !FileNumber::parseInt(text, &v) || v < low || v > high)
        return false;
    *value = v;
    return true;
}
} // namespace

Settings::Settings() : m_groupIds(batteryCount, 0)
{
    for (int g = 0; g < groupCount; ++g)
        m_addressField[g] = m_sensorField[g] = QStringLiteral("error");
}

void Settings::reset()
{
    m_groupIds.fill(0);
    m_warningAlarm = true;
    m_emergencyAlarm = true;
    m_commLossAlarm = true;
    m_commLossSweeps = defaultCommLossSweeps;
    if (m_thresholds)
        m_thresholds->setDefaults();
}

QString Settings::defaultRoomName()
{
    const QString host = QSysInfo::machineHostName();
    return host.isEmpty() ? QStringLiteral("orvik") : host;
}

int Settings::groupOf(int msdIndex, int mkpIndex) const
{
    const int index = msdIndex * 8 + mkpIndex;
    return index >= 0 && index < m_groupIds.size() ? m_groupIds.at(index) : 0;
}

bool Settings::setGroupOf(int msdIndex, int mkpIndex, int group)
{
    const int index = msdIndex * 8 + mkpIndex;
    if (index < 0 || index >= m_groupIds.size())
        return false;
    m_groupIds[index] = group;
    return true;
}

int Settings::modbusAddr(int group) const
{
    if (group < 1 || group > groupCount)
        return -1;
    int value = 0;
    return FileNumber::parseInt(m_modbusAddr[group - 1], &value) ? value : 0;
}

int Settings::dat(int group) const
{
    if (group < 1 || group > groupCount)
        return -1;
    int value = 0;
    return FileNumber::parseInt(m_dat[group - 1], &value) ? value : 0;
}

void Settings::setModbusFields(int group, int address, int firstSensor)
{
    if (group < 1 || group > groupCount)
        return;
    m_addressField[group - 1] = QString::number(address);
    m_sensorField[group - 1] = QString::number(firstSensor);
}

int Settings::modbusAddressField(int group) const
{
    int value = -1;
    return group >= 1 && group <= groupCount && FileNumber::parseInt(m_addressField[group - 1], &value)
               ? value
               : -1;
}

QByteArray Settings::toXml() const
{
    QDomDocument doc(QStringLiteral("settings"));
    QDomElement root = doc.createElement(QStringLiteral("settings"));
    doc.appendChild(root);
    auto add = [&](const QString& tag, const QString& text) {
        QDomElement element = doc.createElement(tag);
        element.appendChild(doc.createTextNode(text));
        root.appendChild(element);
        return element;
    };
    const AlarmThresholds& t = *m_thresholds;
    add(QStringLiteral("warning_alarm"), boolText(m_warningAlarm));
    add(QStringLiteral("emergency_alarm"), boolText(m_emergencyAlarm));
    add(QStringLiteral("temp_warning_threshold"), FileNumber::toText(t.tempWarning));
    add(QStringLiteral("temp_emergency_threshold"), FileNumber::toText(t.tempEmergency));
    add(QStringLiteral("volt_low_warning_threshold"), FileNumber::toText(t.voltLowWarning));
    add(QStringLiteral("volt_low_emergency_threshold"), FileNumber::toText(t.voltLowEmergency));
    add(QStringLiteral("volt_high_warning_threshold"), FileNumber::toText(t.voltHighWarning));
    add(QStringLiteral("volt_high_emergency_threshold"), FileNumber::toText(t.voltHighEmergency));
    add(QStringLiteral("journal_size"), FileNumber::toText(m_journalSize));
    add(QStringLiteral("com_port"), m_comPort);
    add(QStringLiteral("mode"), boolText(modbusMode));
    for (int i = 0; i < batteryCount; ++i) {
        QDomElement element = add(QStringLiteral("group_id"), QString::number(m_groupIds.at(i)));
        element.setAttribute(QStringLiteral("msd"), i / 8);
        element.setAttribute(QStringLiteral("mkp"), i % 8);
    }
    for (int g = 1; g <= groupCount; ++g)
        add(QStringLiteral("ModbusAddr%1").arg(g), m_addressField[g - 1]);
    for (int g = 1; g <= groupCount; ++g)
        add(QStringLiteral("Dat%1").arg(g), m_sensorField[g - 1]);
    add(QStringLiteral("comm_loss_alarm"), boolText(m_commLossAlarm));
    add(QStringLiteral("comm_loss_sweeps"), QString::number(m_commLossSweeps));
    for (int g = 0; g <= groupCount; ++g) {
        const AbsoluteLimits& limits = g ? t.groupLimits[g - 1] : t.limits;
        for (int i = 0; i < AbsoluteLimits::count; ++i)
            add(limitTag(i, g), limitText(limits.value[i]));
    }
    add(QStringLiteral("room_name"), m_roomName);
    add(QStringLiteral("mqtt_enabled"), boolText(m_mqtt.enabled));
    add(QStringLiteral("mqtt_host"), m_mqtt.host);
    add(QStringLiteral("mqtt_port"), QString::number(m_mqtt.port));
    add(QStringLiteral("mqtt_tls_ca"), m_mqtt.tlsCa);
    add(QStringLiteral("mqtt_user"), m_mqtt.user);
    add(QStringLiteral("mqtt_password"), m_mqtt.password);
    add(QStringLiteral("mqtt_topic"), m_mqtt.topic);
    add(QStringLiteral("mqtt_ha_discovery"), boolText(m_mqtt.haDiscovery));
    add(QStringLiteral("modbus_tcp_enabled"), boolText(m_modbusTcp.enabled));
    add(QStringLiteral("modbus_tcp_address"), m_modbusTcp.address);
    add(QStringLiteral("modbus_tcp_port"), QString::number(m_modbusTcp.port));
    add(QStringLiteral("modbus_tcp_unit"), QString::number(m_modbusTcp.unit));
    add(QStringLiteral("modbus_tcp_allow"), m_modbusTcp.allow);
    add(QStringLiteral("mail_enabled"), boolText(m_mail.enabled));
    add(QStringLiteral("mail_url"), m_mail.url);
    add(QStringLiteral("mail_starttls"), boolText(m_mail.starttls));
    add(QStringLiteral("mail_tls_ca"), m_mail.tlsCa);
    add(QStringLiteral("mail_user"), m_mail.user);
    add(QStringLiteral("mail_password"), m_mail.password);
    add(QStringLiteral("mail_from"), m_mail.from);
    add(QStringLiteral("mail_to"), m_mail.to);
    add(QStringLiteral("mail_group_seconds"), QString::number(m_mail.groupSeconds));
    add(QStringLiteral("mail_on_confirm"), boolText(m_mail.onConfirm));
    return doc.toByteArray(1);
}

bool Settings::save(const QString& path) const
{
    m_lastSaveError.clear();
    if (!m_thresholds) {
        m_lastSaveError = QStringLiteral("no threshold record");
        return false;
    }
    const QByteArray data = toXml();
    // A new file replaces the old one only once it is complete on disk, so a full disk,
    // a crash or a power cut never leaves a half-written settings file behind.
    QSaveFile file(path);
    // Unbuffered, so a short write (disk full, size limit) shows in write()'s count:
    // a buffered QSaveFile commits a truncated file without noticing.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        m_lastSaveError = file.errorString();
        return false;
    }
    // Set on the new file before it replaces the old one: the password is never readable by others.
    if ((!m_mqtt.password.isEmpty() || !m_mail.password.isEmpty()) &&
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        m_lastSaveError = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (file.write(data) != data.size()) {
        m_lastSaveError = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        m_lastSaveError = file.errorString();
        return false;
    }
    return true;
}

bool Settings::load(const QString& path)
{
    if (!m_thresholds)
        return false;
    AlarmThresholds candidates = *m_thresholds;

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    // Devices and pipes report size 0; read one byte past the cap to detect oversize.
    const QByteArray data = file.read(maxFileSize + 1);
    if (data.size() > maxFileSize)
        return false;

    QDomDocument doc;
    if (!doc.setContent(data, true))
        return false;

    const QDomNode first = doc.firstChild();
    if (first.isElement() && first.toElement().tagName() == QLatin1String("settings")) {
        for (QDomNode node = first.firstChild(); !node.isNull(); node = node.nextSibling()) {
            if (!node.isElement())
                continue;
            const QDomElement element = node.toElement();
            applyElement(element.tagName(), element, candidates);
        }
    }

    applyCandidates(candidates);
    if (m_journalSize < 1.0)
        m_journalSize = 1.0;
    return true;
}

void Settings::applyElement(const QString& tag, const QDomElement& element, AlarmThresholds& candidates)
{
    const QString text = element.text();
    if (tag == QLatin1String("group_id")) {
        int msd = 0, mkp = 0, group = 0;
        if (intInRange(element.attribute(QStringLiteral("msd")), 0, 15, &msd) &&
            intInRange(element.attribute(QStringLiteral("mkp")), 0, 7, &mkp) &&
            intInRange(text, 0, 6, &group))
            m_groupIds[msd * 8 + mkp] = group;
        return;
    }
    if (tag == QLatin1String("warning_alarm") || tag == QLatin1String("emergency_alarm") ||
        tag == QLatin1String("comm_loss_alarm") || tag == QLatin1String("mqtt_enabled") ||
        tag == QLatin1String("mqtt_ha_discovery") || tag == QLatin1String("modbus_tcp_enabled") ||
        tag == QLatin1String("mail_enabled") || tag == QLatin1String("mail_starttls") ||
        tag == QLatin1String("mail_on_confirm")) {
        bool& flag = tag == QLatin1String("warning_alarm")        ? m_warningAlarm
                     : tag == QLatin1String("emergency_alarm")    ? m_emergencyAlarm
                     : tag == QLatin1String("mqtt_enabled")       ? m_mqtt.enabled
                     : tag == QLatin1String("mqtt_ha_discovery")  ? m_mqtt.haDiscovery
                     : tag == QLatin1String("modbus_tcp_enabled") ? m_modbusTcp.enabled
                     : tag == QLatin1String("mail_enabled")       ? m_mail.enabled
                     : tag == QLatin1String("mail_starttls")      ? m_mail.starttls
                     : tag == QLatin1String("mail_on_confirm")    ? m_mail.onConfirm
                                                                  : m_commLossAlarm;
        if (text == kTrue)
            flag = true;
        else if (text == kFalse)
            flag = false;
        return;
    }
    struct ThresholdKey
    {
        const char* tag;
        double AlarmThresholds::*field;
    };
    static const ThresholdKey keys[] = {
        {"temp_warning_threshold", &AlarmThresholds::tempWarning},
        {"temp_emergency_threshold", &AlarmThresholds::tempEmergency},
        {"volt_low_warning_threshold", &AlarmThresholds::voltLowWarning},
        {"volt_low_emergency_threshold", &AlarmThresholds::voltLowEmergency},
        {"volt_high_warning_threshold", &AlarmThresholds::voltHighWarning},
        {"volt_high_emergency_threshold", &AlarmThresholds::voltHighEmergency},
    };
    for (const ThresholdKey& key : keys) {
        if (tag == QLatin1String(key.tag)) {
            double value = 0.0;
            candidates.*key.field = FileNumber::parse(text, &value) ? value : m_thresholds->*key.field;
            return;
        }
    }
    if (tag.startsWith(QLatin1String("volt_abs_")) || tag.startsWith(QLatin1String("temp_abs_"))) {
        applyLimit(tag, text, candidates);
        return;
    }
    if (tag == QLatin1String("comm_loss_sweeps")) {
        intInRange(text, minCommLossSweeps, maxCommLossSweeps, &m_commLossSweeps);
    } else if (tag == QLatin1String("journal_size")) {
        FileNumber::parse(text, &m_journalSize);
    } else if (tag == QLatin1String("com_port")) {
        m_comPort = text;
    } else if (tag == QLatin1String("mode")) {
        m_mode = text;
    } else if (tag.startsWith(QLatin1String("mqtt_")) || tag == QLatin1String("room_name")) {
        applyMqttElement(tag, text);
    } else if (tag.startsWith(QLatin1String("modbus_tcp_"))) {
        applyModbusTcpElement(tag, text);
    } else if (tag.startsWith(QLatin1String("mail_"))) {
        applyMailElement(tag, text);
    } else {
        for (int g = 1; g <= groupCount; ++g) {
            if (tag == QStringLiteral("ModbusAddr%1").arg(g))
                m_modbusAddr[g - 1] = text;
            else if (tag == QStringLiteral("Dat%1").arg(g))
                m_dat[g - 1] = text;
        }
    }
}

void Settings::applyMqttElement(const QString& tag, const QString& text)
{
    if (tag == QLatin1String("mqtt_port")) {
        intInRange(text, 1, 65535, &m_mqtt.port);
        return;
    }
    // An empty room name keeps the host name.
    if (tag == QLatin1String("room_name") && !text.trimmed().isEmpty())
        m_roomName = text;
    QString* const texts[] = {&m_mqtt.host, &m_mqtt.tlsCa, &m_mqtt.user, &m_mqtt.password, &m_mqtt.topic};
    const char* const tags[] = {"mqtt_host", "mqtt_tls_ca", "mqtt_user", "mqtt_password", "mqtt_topic"};
    for (int i = 0; i < 5; ++i)
        if (tag == QLatin1String(tags[i]))
            *texts[i] = text;
}

void Settings::applyModbusTcpElement(const QString& tag, const QString& text)
{
    // A value out of range keeps the default; the address and the list are checked where used.
    if (tag == QLatin1String("modbus_tcp_port"))
        intInRange(text, 1, 65535, &m_modbusTcp.port);
    else if (tag == QLatin1String("modbus_tcp_unit"))
        intInRange(text, 1, 247, &m_modbusTcp.unit);
    else if (tag == QLatin1String("modbus_tcp_address") && !text.trimmed().isEmpty())
        m_modbusTcp.address = text.trimmed();
    else if (tag == QLatin1String("modbus_tcp_allow"))
        m_modbusTcp.allow = text.trimmed();
}

void Settings::applyMailElement(const QString& tag, const QString& text)
{
    if (tag == QLatin1String("mail_group_seconds")) {
        intInRange(text, 0, maxMailGroupSeconds, &m_mail.groupSeconds);
        return;
    }
    QString* const texts[] = {&m_mail.url,      &m_mail.tlsCa, &m_mail.user,
                              &m_mail.password, &m_mail.from,  &m_mail.to};
    const char* const tags[] = {"mail_url",      "mail_tls_ca", "mail_user",
                                "mail_password", "mail_from",   "mail_to"};
    for (int i = 0; i < 6; ++i)
        if (tag == QLatin1String(tags[i]))
            *texts[i] = text.trimmed();
}

void Settings::applyLimit(const QString& tag, const QString& text, AlarmThresholds& candidates) const
{
    for (int g = 0; g <= groupCount; ++g) {
        for (int i = 0; i < AbsoluteLimits::count; ++i) {
            if (tag != limitTag(i, g))
                continue;
            double& candidate = g ? candidates.groupLimits[g - 1].value[i] : candidates.limits.value[i];
            const double old = g ? m_thresholds->groupLimits[g - 1].value[i] : m_thresholds->limits.value[i];
            double value = 0.0;
            candidate = text.isEmpty() ? AbsoluteLimits::off : FileNumber::parse(text, &value) ? value : old;
            return;
        }
    }
}

void Settings::applyCandidates(const AlarmThresholds& c)
{
    AlarmThresholds& t = *m_thresholds;
    // The installation's limits first: a group's pair is judged with them where it has none.
    t.limits = acceptedLimits(c.limits, t.limits, AbsoluteLimits());
    for (int g = 0; g < groupCount; ++g)
        t.groupLimits[g] = acceptedLimits(c.groupLimits[g], t.groupLimits[g], t.limits);
    if (c.tempEmergency > c.tempWarning) {
        if (c.tempEmergency > 0)
            t.tempEmergency = c.tempEmergency;
        // Greater than 0 like the other five: a negative warning would put every
        // battery into a permanent temperature warning.
        if (c.tempWarning > 0)
            t.tempWarning = c.tempWarning;
    }
    if (c.voltLowEmergency > c.voltLowWarning) {
        if (c.voltLowEmergency > 0)
            t.voltLowEmergency = c.voltLowEmergency;
        if (c.voltLowWarning > 0)
            t.voltLowWarning = c.voltLowWarning;
    }
    if (c.voltHighEmergency > c.voltHighWarning) {
        if (c.voltHighEmergency > 0)
            t.voltHighEmergency = c.voltHighEmergency;
        if (c.voltHighWarning > 0)
            t.voltHighWarning = c.voltHighWarning;
    }
}
