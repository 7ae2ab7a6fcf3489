#pragma once

#include <QString>
#include <QVector>

struct AlarmThresholds;

// The operator's configuration, read from settings.xml at start and written on apply.
class Settings
{
public:
    static constexpr int batteryCount = 128;
    static constexpr int groupCount = 6;
    static constexpr double defaultJournalSize = 1.02;
    // A real file is a few kilobytes; anything far larger is not ours and is not parsed.
    static constexpr qint64 maxFileSize = 4 * 1024 * 1024;
    static constexpr int defaultCommLossSweeps = 3;
    static constexpr int minCommLossSweeps = 1;
    static constexpr int maxCommLossSweeps = 100;
    static constexpr int defaultMqttPort = 1883;
    static constexpr int defaultModbusTcpPort = 1502;
    static constexpr int defaultMailGroupSeconds = 60;
    static constexpr int maxMailGroupSeconds = 600;

    Settings();

    void setThresholds(AlarmThresholds* thresholds) { m_thresholds = thresholds; }
    AlarmThresholds* thresholds() const { return m_thresholds; }

    void reset();

    int groupOf(int msdIndex, int mkpIndex) const;
    bool setGroupOf(int msdIndex, int mkpIndex, int group);

    bool warningAlarm() const { return m_warningAlarm; }
    void setWarningAlarm(bool on) { m_warningAlarm = on; }
    bool emergencyAlarm() const { return m_emergencyAlarm; }
    void setEmergencyAlarm(bool on) { m_emergencyAlarm = on; }
    // A module silent for this many sweeps in a row (native mode) is in communication loss.
    bool commLossAlarm() const { return m_commLossAlarm; }
    void setCommLossAlarm(bool on) { m_commLossAlarm = on; }
    int commLossSweeps() const { return m_commLossSweeps; }
    void setCommLossSweeps(int sweeps) { m_commLossSweeps = sweeps; }
    double journalSize() const { return m_journalSize; }
    void setJournalSize(double megabytes) { m_journalSize = megabytes; }

    QString comPort() const { return m_comPort; }
    void setComPort(const QString& name) { m_comPort = name; }
    bool isModbusMode() const { return m_mode == QLatin1String("true"); }
    int modbusAddr(int group) const;
    int dat(int group) const;
    // The settings page's live Modbus fields of a group (1..6), as they are saved; a record
    // no page has filled in saves "error" and answers -1.
    void setModbusFields(int group, int address, int firstSensor);
    int modbusAddressField(int group) const;

    // The battery room's name (messages, titles): the host name unless the operator set one.
    static QString defaultRoomName();
    QString roomName() const { return m_roomName; }
    void setRoomName(const QString& name) { m_roomName = name; }
    // Publishing to an MQTT broker. An empty CA file is plain TCP; an empty topic is the
    // default base topic made from the room's name.
    struct Mqtt
    {
        bool enabled = false;
        QString host;
        int port = defaultMqttPort;
        QString tlsCa;
        QString user;
        QString password;
        QString topic;
        bool haDiscovery = false;
    };
    const Mqtt& mqtt() const { return m_mqtt; }
    void setMqtt(const Mqtt& mqtt) { m_mqtt = mqtt; }
    // The read-only Modbus TCP server for the plant's SCADA. An empty allow list admits every
    // client; otherwise comma-separated addresses and CIDR ranges, kept as the operator wrote it.
    struct ModbusTcp
    {
        bool enabled = false;
        QString address = QStringLiteral("0.0.0.0");
        int port = defaultModbusTcpPort;
        int unit = 1;
        QString allow;
    };
    const ModbusTcp& modbusTcp() const { return m_modbusTcp; }
    void setModbusTcp(const ModbusTcp& server) { m_modbusTcp = server; }
    // Alarm mail through an SMTP relay: "smtp://host:587" (STARTTLS required unless `starttls`
    // is false) or "smtps://host:465"; recipients comma-separated; events within
    // `groupSeconds` of the first go in one mail.
    struct Mail
    {
        bool enabled = false;
        QString url;
        bool starttls = true;
        QString tlsCa;
        QString user;
        QString password;
        QString from;
        QString to;
        int groupSeconds = defaultMailGroupSeconds;
        bool onConfirm = false;
    };
    const Mail& mail() const { return m_mail; }
    void setMail(const Mail& mail) { m_mail = mail; }

    bool load(const QString& path);
    // Replaces the file atomically: a failed write leaves the old file as it was. With an
    // MQTT or mail password the file is readable by its owner only.
    bool save(const QString& path) const;
    // The document save() writes, without touching the disk.
    QByteArray toXml() const;
    QString lastSaveError() const { return m_lastSaveError; }

private:
    void applyElement(const QString& tag, const class QDomElement& element, AlarmThresholds& candidates);
    void applyMqttElement(const QString& tag, const QString& text);
    void applyModbusTcpElement(const QString& tag, const QString& text);
    void applyMailElement(const QString& tag, const QString& text);
    void applyLimit(const QString& tag, const QString& text, AlarmThresholds& candidates) const;
    void applyCandidates(const AlarmThresholds& candidates);

    QVector<int> m_groupIds;
    bool m_warningAlarm = true;
    bool m_emergencyAlarm = true;
    double m_journalSize = defaultJournalSize;
    bool m_commLossAlarm = true;
    int m_commLossSweeps = defaultCommLossSweeps;
    AlarmThresholds* m_thresholds = nullptr;
    QString m_comPort;
    QString m_mode;
    QString m_modbusAddr[groupCount];
    QString m_dat[groupCount];
    QString m_addressField[groupCount];
    QString m_sensorField[groupCount];
    QString m_roomName = defaultRoomName();
    Mqtt m_mqtt;
    ModbusTcp m_modbusTcp;
    Mail m_mail;
    mutable QString m_lastSaveError;
};
