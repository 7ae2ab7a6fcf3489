// The journal page as the operator uses it: rows and colours, the row limit, the PDF export,
// clearing and copying.
#include "JournalTestSupport.h"
#include "app/ProgramMode.h"
#include "journal/JournalWidget.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
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
        QObject::connect(j.journal.get(), &Journal::updateJournalWidget, &widget,
                         &JournalWidget::updateJournalWidget);
        j.journal->setFileNameChooser([this] { return chosen; });
    }
    QString cell(int row, int column) { return widget.table()->item(row, column)->text(); }
    QString tool(const QString& program, const QStringList& arguments)
    {
        QProcess process;
        process.start(program, arguments);
        return process.waitForFinished(60000) ? QString::fromUtf8(process.readAllStandardOutput()) : "";
    }
    // The export's text, blanks collapsed, page numbers gone.
    QString exported(const QString& name)
    {
        chosen = dir.filePath(name);
        widget.on_pb_save_clicked();
        return tool("pdftotext", {"-enc", "UTF-8", chosen, "-"})
            .simplified()
            .remove(QRegularExpression("(?<=дено|В\\)) \\d+(?= |$)"));
    }
};

QString pdfText(const QList<Event>& events)
{
    QStringList lines;
    for (const Event& e : events)
        lines << JournalFormat::toHtml(e).remove(QRegularExpression("<[^>]*>")).simplified();
    return lines.join(' ');
}

} // namespace

class TestJournalWidget : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { modbusMode = false; }
    void rows_data();
    void rows();
    void rowLimitAndExport();
    void clear_data();
    void clear();
    void copy();
};

void TestJournalWidget::rows_data()
{
    QTest::addColumn<Event>("event");
    QTest::addColumn<bool>("modbus");
    QTest::addColumn<QString>("texts");   // columns 1 to 6; the time is the same in all
    QTest::addColumn<QString>("colours"); // backgrounds set
    const QDateTime t(QDate(2026, 12, 5), QTime(9, 2, 7));
    const auto row = [&t](const char* name, int msd, int mkp, int group, double temp, double volt, double dT,
                          double dU, bool modbus, const char* texts, const char* colours = "", int vState = 1,
                          int tState = 1) {
        QTest::newRow(name) << Event(msd, mkp, group, t, temp, volt, dT, dU, true, false, vState, tState)
                            << modbus << texts << colours;
    };
    row("native", 3, 4, 2, 24.8, 12.61, 1.3, -0.35, false, "2|3:5|12,61|-0,35|24,8|1,3");
    row("last battery", 15, 7, 6, 100.0, 13.999, 0.04, 1.5, true, "6|128|14,00|1,50|100,0|0,0");
    // Exact halves: the page rounds them as the file (and so the PDF) does, away from zero.
    row("negative halves", 1, 2, 3, -5.25, 2.375, -2.25, -0.125, false, "3|1:3|2,38|-0,13|-5,3|-2,3",
        "4 #ff0000 6 #ffff00", 2, 3);
    row("positive halves", 1, 2, 3, 24.25, 12.625, 2.25, 0.125, false, "3|1:3|12,63|0,13|24,3|2,3",
        "4 #ffff00 6 #ff0000", 3, 2);
}

void TestJournalWidget::rows()
{
    QFETCH(Event, event);
    QFETCH(bool, modbus);
    QFETCH(QString, texts);
    QFETCH(QString, colours);
    modbusMode = !modbus;
    Page page;
    modbusMode = modbus; // the mode of the moment the row is added
    page.widget.updateJournalWidget(event);
    QCOMPARE(page.widget.table()->rowCount(), 1);
    QStringList shown, coloured;
    for (int c = 0; c < 7; ++c) {
        shown << page.cell(0, c);
        const QBrush brush = page.widget.table()->item(0, c)->background();
        if (brush.style() != Qt::NoBrush)
            coloured << QString::number(c) << brush.color().name();
    }
    QCOMPARE(shown.join('|'), "09:02:07 2026-12-05 |" + texts);
    QCOMPARE(coloured.join(' '), colours);
}

void TestJournalWidget::rowLimitAndExport()
{
    const QList<Event> events = numberedEvents(0, 1025);
    Page page;
    QVERIFY(page.j.add(events));
    QCOMPARE(page.widget.table()->rowCount(), 1024); // the first went, the second is on top
    QCOMPARE(page.cell(0, 0), events[1].time().toString("HH:mm:ss yyyy-MM-dd "));
    QCOMPARE(page.cell(1023, 0), events[1024].time().toString("HH:mm:ss yyyy-MM-dd "));
    QCOMPARE(page.exported("all.pdf"), pdfText(events.mid(1)));
    QVERIFY(page.tool("pdfinfo", {page.chosen})
                .contains(QRegularExpression("Page size: +595(\\.\\d+)? x 84[12](\\.\\d+)? pts \\(A4\\)")));
    Page again(readFile(page.j.journal->filePath())); // at start, the newest the file holds
    QCOMPARE(again.widget.table()->rowCount(), 1024);
    QCOMPARE(again.cell(1023, 3), QString("10,24"));
    QCOMPARE(again.cell(0, 0), page.cell(0, 0));
    page.chosen = page.dir.filePath("report"); // the suffix added, nothing else left behind
    page.widget.on_pb_save_clicked();
    QVERIFY(readFile(page.dir.filePath("report.pdf")).startsWith("%PDF-") && !QFile::exists(page.chosen));
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
    QVERIFY(page.j.add(numberedEvents(1, 3)));
    const QByteArray fileBefore = readFile(page.j.journal->filePath());
    QString seen;
    QTimer::singleShot(10, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        seen = box->windowTitle() + '|' + box->text() + '|' + QString::number(box->icon());
        for (QAbstractButton* b : box->buttons())
            if (b->text() == answer)
                return b->click();
        box->reject();
    });
    page.widget.on_pb_clear_clicked();
    QCOMPARE(seen, QString("Очистка|Очистить?|%1").arg(QMessageBox::Question));
    QCOMPARE(page.widget.table()->rowCount(), rows);
    // Only the table: the journal and its file keep everything; the export holds what is shown.
    QCOMPARE(page.j.journal->recentEvents(100).size(), 3);
    QCOMPARE(readFile(page.j.journal->filePath()), fileBefore);
    QVERIFY(page.j.add(numberedEvents(4)));
    QCOMPARE(page.exported("after.pdf"), pdfText(numberedEvents(4 - rows, rows + 1)));
}

void TestJournalWidget::copy()
{
    Page page;
    QVERIFY(page.j.add(numberedEvents(1, 2)));
    QTableWidget* table = page.widget.table();
    table->setSelectionMode(QAbstractItemView::MultiSelection);
    for (const auto& [r, c] : {std::pair(1, 3), std::pair(0, 0), std::pair(0, 2)})
        table->item(r, c)->setSelected(true);
    QTest::keySequence(table, QKeySequence::Copy);
    QCOMPARE(QApplication::clipboard()->text(),
             page.cell(0, 0) + '\t' + page.cell(0, 2) + '\n' + page.cell(1, 3));
    table->clearSelection();
    QTest::keySequence(&page.widget, QKeySequence::Copy);
    QCOMPARE(QApplication::clipboard()->text(), QString());
    QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier, "a"); // other keys go to the parent
    QApplication::sendEvent(&page.widget, &press);
    QVERIFY(!press.isAccepted());
}

QTEST_MAIN(TestJournalWidget)
#include "tst_journal_widget.moc"
