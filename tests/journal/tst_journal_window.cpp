// The journal inside the main window: its page in the page stack, events emitted by the
// window, the read-back at start, and a clean stop when the window goes.
#include "JournalTestSupport.h"
#include "app/MainWindow.h"
#include "app/MainWindowForm.h"
#include "core/Battery.h"
#include "journal/JournalWidget.h"

#include <QScrollArea>
#include <QStackedWidget>
#include <QTableWidget>
#include <QtTest>

namespace {

struct WindowInFolder
{
    QTemporaryDir dir;
    QString previous = QDir::currentPath();
    std::unique_ptr<MainWindow> window;

    explicit WindowInFolder(const QByteArray& journal = QByteArray())
    {
        if (!journal.isNull())
            writeFile(dir.filePath("journal.html"), journal);
        QDir::setCurrent(dir.path());
        window = std::make_unique<MainWindow>();
    }
    ~WindowInFolder()
    {
        window.reset();
        QDir::setCurrent(previous);
    }
    JournalWidget* page() const
    {
        return qobject_cast<JournalWidget*>(window->form()->stacked_widget->widget(2));
    }
    QString journalPath() const { return dir.filePath("journal.html"); }
};

} // namespace

class TestJournalWindow : public QObject
{
    Q_OBJECT
private slots:
    void pageSitsAtIndexTwo();
    void missingJournalIsCreated();
    void emittedEventsReachFileAndPage();
    void pageShowsWhatWasReadBack();
    void closingWritesEverythingHandedOver();
};

void TestJournalWindow::pageSitsAtIndexTwo()
{
    WindowInFolder w;
    QStackedWidget* stack = w.window->form()->stacked_widget;
    QCOMPARE(stack->widget(0), static_cast<QWidget*>(w.window->form()->mkp_scroll));
    QCOMPARE(stack->widget(1), static_cast<QWidget*>(w.window->form()->deriv_container_scroll));
    QVERIFY(w.page());
    QCOMPARE(w.page()->table()->rowCount(), 0);
    QCOMPARE(stack->currentIndex(), 0);
}

void TestJournalWindow::missingJournalIsCreated()
{
    WindowInFolder w;
    QCOMPARE(readFile(w.journalPath()), JournalFormat::createdSkeleton());
}

void TestJournalWindow::emittedEventsReachFileAndPage()
{
    WindowInFolder w;
    Battery* battery = w.window->rows()[3][4];
    battery->setVoltage(12.61);
    battery->setTemperature(24.8);
    emit w.window->addJournalEvent(battery, true, false, true);
    // The next reading is already there when the journal's thread gets to work.
    battery->setVoltage(1.0);
    battery->setTemperature(1.0);
    emit w.window->addJournalEvent(battery, false, true, false); // shown, not written

    QTRY_COMPARE(w.page()->table()->rowCount(), 2);
    QCOMPARE(w.page()->table()->item(0, 2)->text(), QString("3:5"));
    QCOMPARE(w.page()->table()->item(0, 3)->text(), QString("12,61"));
    QCOMPARE(w.page()->table()->item(1, 3)->text(), QString("1,00"));

    const JournalFormat::ReadBack back = readBackFile(w.journalPath());
    QCOMPARE(back.events.size(), 1);
    QCOMPARE(back.events[0].voltage(), 12.61);
    QCOMPARE(back.events[0].temperature(), 24.8);
    QCOMPARE(back.events[0].msdIndex(), 3);
    QCOMPARE(back.events[0].mkpIndex(), 4);
    QVERIFY(back.events[0].isStarted());
}

void TestJournalWindow::pageShowsWhatWasReadBack()
{
    QByteArray file = JournalFormat::createdSkeleton().chopped(JournalFormat::closingTags.size());
    for (int i = 0; i < 5; ++i)
        file += paragraphBytes(numberedEvent(i)) + '\n';
    WindowInFolder w(file + JournalFormat::closingTags);
    QCOMPARE(w.page()->table()->rowCount(), 5);
    QCOMPARE(w.page()->table()->item(4, 3)->text(), QString("0,04"));
}

void TestJournalWindow::closingWritesEverythingHandedOver()
{
    auto w = std::make_unique<WindowInFolder>();
    const QString path = w->journalPath();
    Battery* battery = w->window->rows()[0][0];
    for (int i = 0; i < 50; ++i) {
        battery->setVoltage(i / 100.0);
        emit w->window->addJournalEvent(battery, true, false, true);
    }
    w->window.reset(); // no event loop ran: the window's end must still write all 50
    const JournalFormat::ReadBack back = readBackFile(path);
    QCOMPARE(back.events.size(), 50);
    QCOMPARE(back.events.last().voltage(), 0.49);
}

QTEST_MAIN(TestJournalWindow)
#include "tst_journal_window.moc"
