#pragma once
#include "../common/FileContent.h"
#include "config/Settings.h"
#include "core/AlarmThresholds.h"
#include "journal/Journal.h"
#include "journal/JournalFormat.h"
#include <QDir>
#include <QFile>
#include <QtTest>
#include <memory>
const QByteArray kHead = "<html>\n<body>\n", kTail = "</body>\n</html>";

// A journal in `folder`; what it announced is received on this thread, as by the page.
struct RunningJournal
{
    AlarmThresholds thresholds;
    Settings settings;
    std::unique_ptr<Journal> journal;
    QObject receiver;
    QList<Event> shown;

    explicit RunningJournal(const QString& folder, double journalSize = Settings::defaultJournalSize)
    {
        settings.setThresholds(&thresholds);
        settings.reset();
        settings.setJournalSize(journalSize);
        journal = std::make_unique<Journal>(&settings, folder);
        QObject::connect(journal.get(), &Journal::updateJournalWidget, &receiver,
                         [this](const Event& e) { shown << e; });
    }

    bool add(const QList<Event>& events, bool saveIntoFile = true)
    {
        const int wanted = shown.size() + events.size();
        for (const Event& e : events)
            journal->enqueue(e, saveIntoFile);
        return QTest::qWaitFor([&] { return shown.size() == wanted; }, 30000);
    }
};

// The voltage carries a running number, so files can be checked for order and gaps.
inline QList<Event> numberedEvents(int first, int count = 1)
{
    QList<Event> events;
    for (int n = first; n < first + count; ++n)
        events << Event(n % 16, n % 8, n % 7, QDateTime(QDate(2026, 3, 1), QTime(8, 0)).addSecs(n),
                        20.0 + (n % 10) * 0.1, n / 100.0, 0.3, -0.25, true, n % 3 == 0, 1, 1);
    return events;
}

inline QList<int> range(int first, int count)
{
    QList<int> numbers;
    while (numbers.size() < count)
        numbers << first + numbers.size();
    return numbers;
}

inline QList<int> numbersIn(const QList<Event>& events)
{
    QList<int> numbers;
    for (const Event& e : events)
        numbers << qRound(e.voltage() * 100.0);
    return numbers;
}

inline QList<int> numbersIn(const QString& path)
{
    return numbersIn(JournalFormat::readBack(readFile(path), AlarmThresholds(), 1 << 30).events);
}
