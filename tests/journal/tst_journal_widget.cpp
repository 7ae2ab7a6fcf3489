// The journal page: rows and colours, the row limit, the PDF export, clearing.
#include "JournalTestSupport.h"
#include "config/ProgramMode.h"
#include "journal/JournalWidget.h"
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTimer>

namespace {
struct Page
{
    QTemporaryDir dir;
    RunningJournal j;
    JournalWidget widget;
    QString chosen; // the name the save dialog answers

    Page() : j(dir.path(), 100.0), widget(j.journal.get())
    {
        QObject::connect(j.journal.get(), &Journal::updateJournalWidget, &widget,
                         &JournalWidget::updateJournalWidget);
        j.journal->setFileNameChooser([this] { return chosen; });
    }
    QString cell(int row, int column) { return widget.table()->item(row, column)->text(); }

    // The export's text, blanks collapsed, page numbers gone.
    QString exported(const QString& name)
    {
        chosen = dir.filePath(name);
        widget.on_pb_save_clicked();
        QProcess process;
        process.start("pdftotext", {chosen, "-"});
        process.waitForFinished(60000);
        return QString::fromUtf8(process.readAllStandardOutput())
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
    // In the mode of the moment; halves away from zero, as in the file.
    void rows()
    {
        const QDateTime t(QDate(2026, 12, 5), QTime(9, 2, 7));
        const auto limited = [](Event e) { return e.setLimit('U', '>', 14.4), e; };
        const QList<std::tuple<bool, Event, QString>> rows = {
            {false, Event(3, 4, 2, t, 24.8, 12.61, 1.3, -0.35, true, false, 1, 1),
             "2|3:5|12,61|-0,35|24,8|1,3"},
            {true, Event(15, 7, 6, t, 100.0, 13.999, 0.04, 1.5, true, true, 1, 1),
             "6|128|14,00|1,50|100,0|0,0"},
            {false, Event(1, 2, 3, t, -5.25, 2.375, -2.25, -0.125, true, false, 2, 3),
             "3|1:3|2,38|-0,13|-5,3|-2,3|4 #ff0000|6 #ffff00"},
            {false, limited(Event(3, 4, 2, t, 24.8, 14.61, 1.3, -0.35, true, false, 3, 2)),
             "2|3:5|14,61|-0,35  предел U>14,40 В|24,8|1,3|4 #ffff00|6 #ff0000"},
            {false, Event::communication(Event::Kind::CommLost, 5, 0, 0, t, false),
             "|МСД 05|нет связи||||3 #ffff00"},
            {true, Event::communication(Event::Kind::CommRestored, 0, 2, 7, t, false),
             "2|адрес 7|связь восстановлена|||"}};
        Page page;
        for (const auto& [modbus, event, shown] : rows) {
            modbusMode = modbus;
            page.widget.updateJournalWidget(event);
            modbusMode = !modbus;
        }
        modbusMode = false;
        QCOMPARE(page.widget.table()->rowCount(), rows.size());
        for (int r = 0; r < rows.size(); ++r) {
            QStringList cells;
            for (int c = 0; c < 7; ++c)
                cells << page.cell(r, c);
            for (int c = 0; c < 7; ++c)
                if (const QBrush b = page.widget.table()->item(r, c)->background(); b.style() != Qt::NoBrush)
                    cells << QString::number(c) + ' ' + b.color().name();
            QCOMPARE(cells.join('|'), "09:02:07 2026-12-05 |" + std::get<2>(rows[r]));
        }
    }
    void clear_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::newRow("Да") << "Да";
        QTest::newRow("closed") << "";
    }
    // At most 1024 rows; clearing empties only the table, the export holds what is shown.
    void clear()
    {
        QFETCH(QString, answer);
        const QList<Event> events = numberedEvents(0, 1026);
        Page page;
        QVERIFY(page.j.add(events.mid(0, 1025)));
        QCOMPARE(page.widget.table()->rowCount(), 1024);
        QCOMPARE(page.cell(0, 0) + page.cell(1023, 0),
                 (events[1].time().toString("HH:mm:ss yyyy-MM-dd ") +
                  events[1024].time().toString("HH:mm:ss yyyy-MM-dd ")));
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
        QCOMPARE(page.widget.table()->rowCount(), answer == "Да" ? 0 : 1024);
        QCOMPARE(page.j.journal->recentEvents(2000).size(), 1025);
        QCOMPARE(readFile(page.j.journal->filePath()), fileBefore);
        QVERIFY(page.j.add({events[1025]}));
        QCOMPARE(page.exported("after.pdf"), pdfText(events.mid(answer == "Да" ? 1025 : 2)));
    }
};

QTEST_MAIN(TestJournalWidget)
#include "tst_journal_widget.moc"
