// The journal page as the operator uses it (rows, colours, the row limit, clearing, copying,
// the PDF export) and inside the main window.
#include "../common/WindowInFolder.h"
#include "JournalTestSupport.h"
#include "app/MainWindowForm.h"
#include "app/ProgramMode.h"
#include "core/Battery.h"
#include "journal/JournalWidget.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTimer>

namespace {

// A journal in its own folder with its page, connected as the window connects them.
struct Page
{
    QTemporaryDir dir;
    bool fileWritten;
    RunningJournal j;
    JournalWidget widget;
    QString chosen; // the name the save dialog answers
    explicit Page(const QByteArray& file = QByteArray())
        : fileWritten(file.isNull() || writeFile(dir.filePath("journal.html"), file)), j(dir.path(), 100.0),
          widget(j.journal.get())
    {
        QObject::connect(journal(), &Journal::updateJournalWidget, &widget,
                         &JournalWidget::updateJournalWidget);
        journal()->setFileNameChooser([this] { return chosen; });
    }
    Journal* journal() { return j.journal.get(); }
    bool add(const QList<Event>& events) { return j.add(events); }
    QTableWidget* table() { return widget.table(); }
    QString cell(int row, int column) { return table()->item(row, column)->text(); }
};

// Answers the next message box from inside its event loop; `seen` holds its title, text
// and icon.
struct NextMessageBox
{
    QTimer timer;
    QString seen;
    QStringList buttons;
    explicit NextMessageBox(const QString& answer = QString())
    {
        QObject::connect(&timer, &QTimer::timeout, [this, answer] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            timer.stop();
            seen = box->windowTitle() + '|' + box->text() + '|' + QString::number(box->icon());
            for (QAbstractButton* b : box->buttons())
                buttons << b->text();
            for (QAbstractButton* b : box->buttons())
                if (b->text() == answer)
                    return b->click();
            box->reject();
        });
        timer.start(10);
    }
};

QString pdfText(const QString& path)
{
    QProcess process;
    process.start("pdftotext", {"-enc", "UTF-8", path, "-"});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return "<pdftotext failed>";
    return QString::fromUtf8(process.readAllStandardOutput()).simplified();
}

// The paragraph as it reads in the PDF: tags gone, blanks collapsed.
QString pdfLine(const Event& e)
{
    return JournalFormat::toHtml(e).remove(QRegularExpression("<[^>]*>")).simplified();
}

} // namespace

class TestJournalWidget : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { modbusMode = false; }
    void rows_data();
    void rows();
    void columnsShowTheirWholeText();
    void rowLimitAndExport();
    void clear_data();
    void clear();
    void copy_data();
    void copy();
    void exportFileName_data();
    void exportFileName();
    void inTheMainWindow();
};

void TestJournalWidget::rows_data()
{
    QTest::addColumn<Event>("event");
    QTest::addColumn<bool>("modbus");
    QTest::addColumn<QStringList>("texts"); // columns 1 to 6; the time is the same in all
    QTest::addColumn<QString>("colours");   // backgrounds set
    const QDateTime t(QDate(2026, 12, 5), QTime(9, 2, 7));
    QTest::newRow("native") << Event(3, 4, 2, t, 24.8, 12.61, 1.3, -0.35, true, false, 1, 1) << false
                            << QStringList{"2", "3:5", "12,61", "-0,35", "24,8", "1,3"} << "";
    QTest::newRow("modbus number") << Event(2, 0, 1, t, 5.0, 2.0, -10.25, 0.0, false, true, 1, 1) << true
                                   << QStringList{"1", "17", "2,00", "0,00", " 5,0", "-10,3"} << "";
    QTest::newRow("last battery") << Event(15, 7, 6, t, 100.0, 13.999, 0.04, 1.5, true, true, 1, 1) << true
                                  << QStringList{"6", "128", "14,00", "1,50", "100,0", "0,0"} << "";
    QTest::newRow("row 12 native") << Event(12, 7, 0, t, 20, 12, 0, 0, true, true, 1, 1) << false
                                   << QStringList{"0", "12:8", "12,00", "0,00", "20,0", "0,0"} << "";
    // Exact halves: the page and the file (and so the PDF) round them alike, away from zero.
    QTest::newRow("positive halves") << Event(1, 2, 3, t, 24.25, 12.625, 2.25, 0.125, true, false, 1, 1)
                                     << false << QStringList{"3", "1:3", "12,63", "0,13", "24,3", "2,3"}
                                     << "";
    QTest::newRow("negative halves") << Event(1, 2, 3, t, -5.25, 2.375, -2.25, -0.125, true, false, 1, 1)
                                     << false << QStringList{"3", "1:3", "2,38", "-0,13", "-5,3", "-2,3"}
                                     << "";
    QTest::newRow("even neighbours") << Event(1, 2, 3, t, 0.75, 13.875, 10.25, -0.375, true, false, 1, 1)
                                     << false << QStringList{"3", "1:3", "13,88", "-0,38", " 0,8", "10,3"}
                                     << "";
    QTest::newRow("no tie") << Event(1, 2, 3, t, 24.04, 12.344, -0.04, 0.004, true, false, 1, 1) << false
                            << QStringList{"3", "1:3", "12,34", "0,00", "24,0", "-0,0"} << "";
    // Deviation cells coloured by their states (temperature state, voltage state).
    const auto states = [&](int tempState, int voltState) {
        return Event(1, 1, 1, t, 20, 12, 1, 1, true, false, tempState, voltState);
    };
    const QStringList plain{"1", "1:2", "12,00", "1,00", "20,0", "1,0"};
    QTest::newRow("voltage emergency") << states(1, 3) << false << plain << "4 #ff0000";
    QTest::newRow("temperature warning") << states(2, 1) << false << plain << "6 #ffff00";
    QTest::newRow("both") << states(3, 2) << false << plain << "4 #ffff00 6 #ff0000";
    QTest::newRow("no data") << states(0, 0) << false << plain << "";
}

void TestJournalWidget::rows()
{
    QFETCH(Event, event);
    QFETCH(bool, modbus);
    QFETCH(QStringList, texts);
    QFETCH(QString, colours);
    modbusMode = !modbus;
    Page page;
    modbusMode = modbus; // the mode of the moment the row is added
    page.widget.updateJournalWidget(event);
    QCOMPARE(page.table()->rowCount(), 1);
    QStringList shown, coloured;
    for (int c = 0; c < 7; ++c) {
        shown << page.cell(0, c);
        const QBrush brush = page.table()->item(0, c)->background();
        if (brush.style() != Qt::NoBrush)
            coloured << QString::number(c) << brush.color().name();
    }
    QCOMPARE(shown, QStringList{"09:02:07 2026-12-05 "} + texts);
    QCOMPARE(coloured.join(' '), colours);
    // The same digits as the file.
    const QRegularExpressionMatch file =
        QRegularExpression(" (\\S+) В \\((\\S+) В\\) (\\S+) С \\((\\S+) С\\) ")
            .match(JournalFormat::toHtml(event));
    for (int i = 0; i < 4; ++i)
        QCOMPARE(shown[i + 3].trimmed().replace(',', '.'), file.captured(i + 1));
    // Headers follow the mode the page is made in; the voltage ones carry a Latin B.
    JournalWidget fresh(page.journal());
    QStringList headers;
    for (int c = 0; c < fresh.table()->columnCount(); ++c)
        headers << fresh.table()->horizontalHeaderItem(c)->text();
    QCOMPARE(headers, QStringList({"Время", "Группа", modbus ? "№ батареи" : "МСД:МКП", "Напряжение, B",
                                   "dU, B", "Температура, °C", "dT, °C"}));
}

void TestJournalWidget::columnsShowTheirWholeText()
{
    Page page;
    for (double dT : {2.25, -12.5})
        page.widget.updateJournalWidget(Event(15, 7, 6, QDateTime(QDate(2026, 12, 25), QTime(0, 55, 28)),
                                              -25.5, 13.125, dT, -1.5, true, false, 3, 3));
    page.widget.resize(827, 434);
    page.widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page.widget));
    QHeaderView* header = page.table()->horizontalHeader();
    const int margin = 2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    for (int c = 0; c < page.table()->columnCount(); ++c) {
        int wanted =
            header->fontMetrics().horizontalAdvance(page.table()->horizontalHeaderItem(c)->text()) + margin;
        for (int r = 0; r < page.table()->rowCount(); ++r)
            wanted = qMax(wanted, page.table()->fontMetrics().horizontalAdvance(page.cell(r, c)) + 6);
        QVERIFY2(page.table()->columnWidth(c) >= wanted, qPrintable(QString("column %1").arg(c)));
    }
}

void TestJournalWidget::rowLimitAndExport()
{
    const QList<Event> events = numberedEvents(0, 1025);
    Page page;
    QVERIFY(page.add(events));
    QCOMPARE(page.table()->rowCount(), 1024);
    // The first event went, the second is now on top.
    QCOMPARE(page.cell(0, 0), events[1].time().toString("HH:mm:ss yyyy-MM-dd "));
    QCOMPARE(page.cell(1023, 0), events[1024].time().toString("HH:mm:ss yyyy-MM-dd "));
    page.chosen = page.dir.filePath("all.pdf");
    page.widget.on_pb_save_clicked();
    const QString text = pdfText(page.chosen);
    QCOMPARE(text.count("Группа"), 1024);
    QVERIFY(!text.contains(pdfLine(events[0])));
    QVERIFY(text.indexOf(pdfLine(events[1])) >= 0);
    QVERIFY(text.indexOf(pdfLine(events[1])) < text.indexOf(pdfLine(events[1024])));
    QProcess info; // A4 portrait, in points
    info.start("pdfinfo", {page.chosen});
    QVERIFY(info.waitForFinished(30000));
    QVERIFY(QString::fromUtf8(info.readAllStandardOutput())
                .contains(QRegularExpression("Page size: +595(\\.\\d+)? x 84[12](\\.\\d+)? pts \\(A4\\)")));
    // At start the page shows the newest the file holds.
    Page again(readFile(page.journal()->filePath()));
    QCOMPARE(again.table()->rowCount(), 1024);
    QCOMPARE(again.cell(1023, 3), QString("10,24"));
    QCOMPARE(again.cell(0, 0), page.cell(0, 0));
}

void TestJournalWidget::clear_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("rows");
    QTest::newRow("Да") << "Да" << 0;
    QTest::newRow("Нет") << "Нет" << 3;
    QTest::newRow("closed") << "" << 3;
}

void TestJournalWidget::clear()
{
    QFETCH(QString, answer);
    QFETCH(int, rows);
    Page page;
    QVERIFY(page.add(numberedEvents(1, 3)));
    const QByteArray fileBefore = readFile(page.journal()->filePath());
    {
        NextMessageBox box(answer);
        page.widget.on_pb_clear_clicked();
        QCOMPARE(box.seen, QString("Очистка|Очистить?|%1").arg(QMessageBox::Question));
        box.buttons.sort();
        QCOMPARE(box.buttons, QStringList({"Да", "Нет"}));
    }
    QCOMPARE(page.table()->rowCount(), rows);
    // Only the table: the journal and its file keep everything.
    QCOMPARE(page.journal()->recentEvents(100).size(), 3);
    QCOMPARE(readFile(page.journal()->filePath()), fileBefore);
    // The export holds what the page shows.
    for (int more = 0; more < 2; ++more) {
        page.chosen = page.dir.filePath(QString("%1.pdf").arg(more));
        page.widget.on_pb_save_clicked();
        QCOMPARE(pdfText(page.chosen).count("Группа"), rows + more);
        QVERIFY(page.add({numberedEvent(4)}));
    }
    QVERIFY(pdfText(page.chosen).contains(pdfLine(numberedEvent(4))));
}

void TestJournalWidget::copy_data()
{
    QTest::addColumn<bool>("tableHasFocus");
    QTest::newRow("page") << false;
    QTest::newRow("table with the focus") << true;
}

void TestJournalWidget::copy()
{
    QFETCH(bool, tableHasFocus);
    Page page;
    QVERIFY(page.add(numberedEvents(1, 2)));
    QTableWidget* table = page.table();
    table->clearSelection();
    table->setSelectionMode(QAbstractItemView::MultiSelection);
    for (const auto& [r, c] : {std::pair(1, 3), std::pair(0, 0), std::pair(0, 2)})
        table->item(r, c)->setSelected(true);
    QApplication::clipboard()->setText("before");
    page.widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page.widget));
    QWidget* target = tableHasFocus ? static_cast<QWidget*>(table) : &page.widget;
    QTest::keySequence(target, QKeySequence::Copy);
    QCOMPARE(QApplication::clipboard()->text(),
             page.cell(0, 0) + '\t' + page.cell(0, 2) + '\n' + page.cell(1, 3));
    table->clearSelection();
    QTest::keySequence(target, QKeySequence::Copy);
    QCOMPARE(QApplication::clipboard()->text(), QString());
    // Other keys are left to the parent.
    QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier, "a");
    QApplication::sendEvent(&page.widget, &press);
    QVERIFY(!press.isAccepted());
}

void TestJournalWidget::exportFileName_data()
{
    QTest::addColumn<QString>("chosen");  // in the page's folder; empty: the dialog was cancelled
    QTest::addColumn<QString>("written"); // empty: nothing
    QTest::addColumn<bool>("reported");
    const QStringList names{"report",         "report.pdf",      "report.PDF",
                            "report.PDF.pdf", "report.pdf",      "report.pdf",
                            "report.txt",     "report.txt.pdf",  ".pdf",
                            ".pdf.pdf",       "v1.pdf.d/report", "v1.pdf.d/report.pdf"}; // chosen, written
    for (int i = 0; i < names.size(); i += 2)
        QTest::newRow(qPrintable(names[i])) << names[i] << names[i + 1] << false;
    QTest::newRow("cancelled") << ""
                               << "" << false;
    QTest::newRow("missing folder") << "missing/folder/report.pdf"
                                    << "" << true;
    QTest::newRow("a folder in the way stays") << "occupied.pdf"
                                               << "" << true;
}

void TestJournalWidget::exportFileName()
{
    QFETCH(QString, chosen);
    QFETCH(QString, written);
    QFETCH(bool, reported);
    Page page;
    QDir folder(page.dir.path());
    QVERIFY(folder.mkdir("v1.pdf.d") && folder.mkdir("occupied.pdf"));
    QVERIFY(page.add({numberedEvent(5)}));
    const QStringList before = folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    page.chosen = chosen.isEmpty() ? QString() : folder.filePath(chosen);
    const QString previous = QDir::currentPath();
    QDir::setCurrent(folder.path());
    NextMessageBox box;
    page.widget.on_pb_save_clicked();
    QDir::setCurrent(previous);
    QCOMPARE(box.seen, reported ? QString("Ошибка!|Не удалось сохранить файл %1|%2")
                                      .arg(page.chosen)
                                      .arg(QMessageBox::Information)
                                : QString());
    QStringList after = folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    if (!written.isEmpty() && !written.contains('/'))
        QVERIFY(after.removeOne(written));
    QCOMPARE(after, before); // nothing else, no parts left behind
    QVERIFY(QFileInfo(folder.filePath("occupied.pdf")).isDir());
    if (!written.isEmpty())
        QVERIFY(readFile(folder.filePath(written)).startsWith("%PDF-"));
}

void TestJournalWidget::inTheMainWindow()
{
    WindowInFolder w(QByteArray(), {{"journal.html", kHead + paragraphLines(0, 5) + kTail}});
    QStackedWidget* stack = w.window->form()->stacked_widget;
    QCOMPARE(stack->widget(0), static_cast<QWidget*>(w.window->form()->mkp_scroll));
    QCOMPARE(stack->widget(1), static_cast<QWidget*>(w.window->form()->deriv_container_scroll));
    QCOMPARE(stack->currentIndex(), 0);
    auto* page = qobject_cast<JournalWidget*>(stack->widget(2));
    QVERIFY(page);
    QCOMPARE(page->table()->rowCount(), 5); // what was read back
    QCOMPARE(page->table()->item(4, 3)->text(), QString("0,04"));

    Battery* battery = w.window->rows()[3][4];
    battery->setVoltage(12.61);
    battery->setTemperature(24.8);
    emit w.window->addJournalEvent(battery, true, false, true);
    // The next reading is already there when the journal's thread gets to work.
    battery->setVoltage(1.0);
    emit w.window->addJournalEvent(battery, false, true, false); // shown, not written
    QTRY_COMPARE(page->table()->rowCount(), 7);
    QCOMPARE(page->table()->item(5, 2)->text(), QString("3:5"));
    QCOMPARE(page->table()->item(5, 3)->text(), QString("12,61"));
    QCOMPARE(page->table()->item(6, 3)->text(), QString("1,00"));

    battery = w.window->rows()[0][0];
    for (int i = 0; i < 50; ++i) {
        battery->setVoltage(i / 100.0);
        emit w.window->addJournalEvent(battery, true, false, true);
    }
    MainWindow::instance = nullptr;
    w.window.reset(); // no event loop ran: the window's end must still write all 50
    const JournalFormat::ReadBack back = readBackFile(w.dir.filePath("journal.html"));
    QCOMPARE(back.events.size(), 56);
    const Event& e = back.events[5];
    QCOMPARE(QList<double>({e.voltage(), e.temperature(), back.events.last().voltage()}),
             QList<double>({12.61, 24.8, 0.49}));
    QVERIFY(e.msdIndex() == 3 && e.mkpIndex() == 4 && e.isStarted());
}

QTEST_MAIN(TestJournalWidget)
#include "tst_journal_widget.moc"
