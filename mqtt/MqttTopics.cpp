#include "mqtt/MqttTopics.h"

#include "config/Settings.h"

namespace MqttTopics {

QString defaultRoomName()
{
    return Settings::defaultRoomName();
}

QString defaultBase(const QString& roomName)
{
    QString level = roomName.trimmed();
    for (QChar& c : level) {
        if (c == QLatin1Char('/') || c == QLatin1Char('+') || c == QLatin1Char('#') || c.isSpace() ||
            c.category() == QChar::Other_Control)
            c = QLatin1Char('_');
    }
    return QStringLiteral("orvik/") + (level.isEmpty() ? QStringLiteral("room") : level);
}

QString base(const QString& configuredTopic, const QString& roomName)
{
    const QString topic = configuredTopic.trimmed();
    return topic.isEmpty() ? defaultBase(roomName) : topic;
}

QString status(const QString& base)
{
    return base + QStringLiteral("/status");
}

QString batteryName(int msdIndex, int mkpIndex)
{
    return QStringLiteral("%1_%2").arg(msdIndex, 2, 10, QLatin1Char('0')).arg(mkpIndex + 1);
}

QString battery(const QString& base, int msdIndex, int mkpIndex)
{
    return base + QStringLiteral("/battery/") + batteryName(msdIndex, mkpIndex);
}

QString group(const QString& base, int groupNumber)
{
    return base + QStringLiteral("/group/") + QString::number(groupNumber);
}

QString summary(const QString& base)
{
    return base + QStringLiteral("/summary");
}

QString event(const QString& base)
{
    return base + QStringLiteral("/event");
}

} // namespace MqttTopics
