#pragma once

// Small pieces the journal tests share: a working folder, a receiver for announced
// events, and events with known values.
#include "config/AlarmThresholds.h"
#include "config/Settings.h"
#include "journal/Event.h"
#include "journal/JournalFormat.h"

#include <QDir>
#include <QFile>
#include <QObject>
#include <QTemporaryDir>
#include <memory>

// Collects the events a journal announces, on the thread it lives in.
class EventCollector : public QObject
{
    Q_OBJECT
public:
    QList<Event> events;
public slots:
    void updateJournalWidget(Event event) { events.append(event); }
};

// Settings with thresholds, as the window has them.
struct JournalSettings
{
    AlarmThresholds thresholds;
    Settings settings;
    explicit JournalSettings(double journalSize = Settings::defaultJournalSize)
    {
        settings.setThresholds(&thresholds);
        settings.reset();
        settings.setJournalSize(journalSize);
    }
};

// An event whose voltage carries a running number, so that files can be checked for order and gaps.
inline Event numberedEvent(int number, bool started = true)
{
    const QDateTime time(QDate(2026, 3, 1), QTime(8, 0, 0));
    return Event(number % 16, number % 8, number % 7, time.addSecs(number), 20.0 + (number % 10) * 0.1,
                 number / 100.0, 0.3, -0.25, started, number % 3 == 0, 1, 1);
}

inline int numberOf(const Event& event)
{
    return qRound(event.voltage() * 100.0);
}

inline QByteArray paragraphBytes(const Event& event)
{
    return JournalFormat::encode(JournalFormat::toHtml(event));
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

inline JournalFormat::ReadBack readBackFile(const QString& path, int keep = 1 << 30)
{
    return JournalFormat::readBack(readFile(path), AlarmThresholds(), keep);
}
