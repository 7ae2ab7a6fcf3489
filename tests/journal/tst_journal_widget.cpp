// The journal page as the operator uses it: rows, colours, the row limit, clearing,
// copying, and the PDF export with its file name rule and failure report.
#include "JournalTestSupport.h"
#include "app/ProgramMode.h"
#include "journal/Journal.h"
#include "journal/JournalWidget.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QHeaderView>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>
#include <functional>

namespace {

// A journal in its own folder with its page, connected as the window connects them.
struct Page
{
    QTemporaryDir dir;
    JournalSettings s{100.0};
    std::unique_ptr<Journal> journal;
    std::unique_ptr<JournalWidget> widget;

    explicit Page(const QByteArray& journalFile = QByteArray())
    {
        if (!journalFile.isNull())
            writeFile(dir.filePath("journal.html"), journalFile);
        journal = std::make_unique<Journal>(&s.settings, dir.path());
        widget = std::make_unique<JournalWidget>(journal.get());
        QObject::connect(journal.get(), SIGNAL(updateJournalWidget(Event)), widget.get(),
                         SLOT(updateJournalWidget(Event)), Qt::QueuedConnection);
    }
    QTableWidget* table() const { return widget->table(); }
    // Hands the events to the journal and waits until the page shows the last one.
    bool add(const QList<Event>& events)
    {
        for (const Event& e : events)
            journal->enqueue(e);
        const QString last = events.isEmpty() ? QString() : QString::number(events.last().groupNumber());
        return QTest::qWaitFor(
            [&] {
                const int rows = table()->rowCount();
                return rows > 0 && journal->recentEvents(1).value(0) == events.last() &&
                       table()->item(rows - 1, 0)->text() ==
                           events.last().time().toString(QStringLiteral("HH:mm:ss yyyy-MM-dd "));
            },
            20000);
    }
};

// Acts on the next message box that comes up, from inside its event loop, while it lives.
class NextMessageBox
{
public:
    explicit NextMessageBox(std::function<void(QMessageBox*)> act)
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this, act] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            timer.stop();
            seen = box->windowTitle() + QLatin1Char('|') + box->text();
            act(box);
        });
        timer.start();
    }
    QString seen; // title and text of the box, empty while none came up

private:
    QTimer timer;
};

QAbstractButton* buttonWithText(QMessageBox* box, const QString& text)
{
    for (QAbstractButton* button : box->buttons())
        if (button->text() == text)
            return button;
    return nullptr;
}

QString pdfText(const QString& path)
{
    QProcess process;
    process.start(QStringLiteral("pdftotext"), {QStringLiteral("-enc"), QStringLiteral("UTF-8"), path, "-"});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return QStringLiteral("<pdftotext failed>");
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
    void initTestCase();
    void init() { modbusMode = false; }
    void headers_data();
    void headers();
    void rowContents_data();
    void rowContents();
    void sameDigitsAsTheFile_data();
    void sameDigitsAsTheFile();
    void columnsShowTheirWholeText();
    void colours_data();
    void colours();
    void rowLimitAndExportOfTheLast1024();
    void clear_data();
    void clear();
    void exportAfterClear();
    void copy_data();
    void copy();
    void otherKeysAreLeftToTheParent();
    void fileNameRule_data();
    void fileNameRule();
    void cancelledDialogWritesNothing();
    void failedExportIsReported();
    void pdfHoldsTheParagraphs();
    void filledWithTheNewestAtStart();
};

void TestJournalWidget::initTestCase()
{
    // Without a font the PDF comes out without text, silently.
    QVERIFY2(!QFontDatabase().families().isEmpty(), "no font found: install fonts-dejavu-core");
    QVERIFY2(!QStandardPaths::findExecutable("pdftotext").isEmpty(),
             "pdftotext missing: install poppler-utils");
}

void TestJournalWidget::headers_data()
{
    QTest::addColumn<bool>("modbus");
    QTest::addColumn<QStringList>("headers");
    const QStringList common = {"Время", "Группа", "", "Напряжение, B", "dU, B", "Температура, °C", "dT, °C"};
    QStringList native = common, modbus = common;
    native[2] = "МСД:МКП";
    modbus[2] = "№ батареи";
    QTest::newRow("native") << false << native;
    QTest::newRow("modbus") << true << modbus;
}

void TestJournalWidget::headers()
{
    QFETCH(bool, modbus);
    QFETCH(QStringList, headers);
    modbusMode = modbus;
    Page page;
    QCOMPARE(page.table()->columnCount(), 7);
    for (int c = 0; c < 7; ++c)
        QCOMPARE(page.table()->horizontalHeaderItem(c)->text(), headers[c]);
    // The voltage headers carry a Latin B.
    QCOMPARE(page.table()->horizontalHeaderItem(3)->text().right(1).at(0).unicode(), ushort('B'));
}

void TestJournalWidget::rowContents_data()
{
    QTest::addColumn<Event>("event");
    QTest::addColumn<bool>("modbus");
    QTest::addColumn<QStringList>("texts");
    const QDateTime t(QDate(2026, 12, 5), QTime(9, 2, 7));
    QTest::newRow("native") << Event(3, 4, 2, t, 24.8, 12.61, 1.3, -0.35, true, false, 1, 1) << false
                            << QStringList{
                                   "09:02:07 2026-12-05 ", "2", "3:5", "12,61", "-0,35", "24,8", "1,3"};
    QTest::newRow("modbus number") << Event(2, 0, 1, t, 5.0, 2.0, -10.25, 0.0, false, true, 1, 1) << true
                                   << QStringList{
                                          "09:02:07 2026-12-05 ", "1", "17", "2,00", "0,00", " 5,0", "-10,3"};
    QTest::newRow("last battery") << Event(15, 7, 6, t, 100.0, 13.999, 0.04, 1.5, true, true, 1, 1) << true
                                  << QStringList{
                                         "09:02:07 2026-12-05 ", "6", "128", "14,00", "1,50", "100,0", "0,0"};
    QTest::newRow("row 12 native")
        << Event(12, 7, 0, t, 20, 12, 0, 0, true, true, 1, 1) << false
        << QStringList{"09:02:07 2026-12-05 ", "0", "12:8", "12,00", "0,00", "20,0", "0,0"};
}

void TestJournalWidget::rowContents()
{
    QFETCH(Event, event);
    QFETCH(bool, modbus);
    QFETCH(QStringList, texts);
    Page page;
    modbusMode = modbus; // the mode of the moment the row is added
    page.widget->updateJournalWidget(event);
    QCOMPARE(page.table()->rowCount(), 1);
    for (int c = 0; c < 7; ++c)
        QCOMPARE(page.table()->item(0, c)->text(), texts[c]);
}

void TestJournalWidget::sameDigitsAsTheFile_data()
{
    // Exact halves: the page and the file (and so the PDF) round them alike, away from zero.
    QTest::addColumn<double>("voltage");
    QTest::addColumn<double>("dU");
    QTest::addColumn<double>("temperature");
    QTest::addColumn<double>("dT");
    QTest::addColumn<QStringList>("texts"); // columns 3 to 6 on the page
    QTest::newRow("positive halves") << 12.625 << 0.125 << 24.25 << 2.25
                                     << QStringList{"12,63", "0,13", "24,3", "2,3"};
    QTest::newRow("negative halves") << 2.375 << -0.125 << -5.25 << -2.25
                                     << QStringList{"2,38", "-0,13", "-5,3", "-2,3"};
    QTest::newRow("even neighbours") << 13.875 << -0.375 << 0.75 << 10.25
                                     << QStringList{"13,88", "-0,38", " 0,8", "10,3"};
    QTest::newRow("no tie") << 12.344 << 0.004 << 24.04 << -0.04
                            << QStringList{"12,34", "0,00", "24,0", "-0,0"};
}

void TestJournalWidget::sameDigitsAsTheFile()
{
    QFETCH(double, voltage);
    QFETCH(double, dU);
    QFETCH(double, temperature);
    QFETCH(double, dT);
    QFETCH(QStringList, texts);
    const Event e(1, 2, 3, QDateTime(QDate(2026, 1, 2), QTime(0, 55, 28)), temperature, voltage, dT, dU, true,
                  false, 2, 2);
    Page page;
    page.widget->updateJournalWidget(e);
    QStringList shown;
    for (int c = 3; c <= 6; ++c)
        shown << page.table()->item(0, c)->text();
    QCOMPARE(shown, texts);
    const QRegularExpressionMatch file =
        QRegularExpression(" (\\S+) В \\((\\S+) В\\) (\\S+) С \\((\\S+) С\\) ")
            .match(JournalFormat::toHtml(e));
    QVERIFY(file.hasMatch());
    for (int i = 0; i < 4; ++i)
        QCOMPARE(shown[i].trimmed().replace(',', '.'), file.captured(i + 1));
}

void TestJournalWidget::columnsShowTheirWholeText()
{
    Page page;
    for (double dT : {2.25, -12.5})
        page.widget->updateJournalWidget(Event(15, 7, 6, QDateTime(QDate(2026, 12, 25), QTime(0, 55, 28)),
                                               -25.5, 13.125, dT, -1.5, true, false, 3, 3));
    page.widget->resize(827, 434);
    page.widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(page.widget.get()));
    QTableWidget* table = page.table();
    QHeaderView* header = table->horizontalHeader();
    const int headerMargin = 2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    for (int c = 0; c < table->columnCount(); ++c) {
        int wanted = QFontMetrics(header->font()).horizontalAdvance(table->horizontalHeaderItem(c)->text()) +
                     headerMargin;
        for (int r = 0; r < table->rowCount(); ++r)
            wanted =
                qMax(wanted, QFontMetrics(table->font()).horizontalAdvance(table->item(r, c)->text()) + 6);
        QVERIFY2(table->columnWidth(c) >= wanted,
                 qPrintable(QString("column %1: %2 < %3").arg(c).arg(table->columnWidth(c)).arg(wanted)));
    }
}

void TestJournalWidget::colours_data()
{
    QTest::addColumn<int>("voltState");
    QTest::addColumn<int>("tempState");
    QTest::addColumn<QColor>("dU");
    QTest::addColumn<QColor>("dT");
    const QColor none; // no background set
    QTest::newRow("normal") << 1 << 1 << none << none;
    QTest::newRow("voltage emergency") << 3 << 1 << QColor(Qt::red) << none;
    QTest::newRow("temperature warning") << 1 << 2 << none << QColor(Qt::yellow);
    QTest::newRow("both") << 2 << 3 << QColor(Qt::yellow) << QColor(Qt::red);
    QTest::newRow("no data") << 0 << 0 << none << none;
}

void TestJournalWidget::colours()
{
    QFETCH(int, voltState);
    QFETCH(int, tempState);
    QFETCH(QColor, dU);
    QFETCH(QColor, dT);
    Page page;
    page.widget->updateJournalWidget(
        Event(1, 1, 1, QDateTime::currentDateTime(), 20, 12, 1, 1, true, false, tempState, voltState));
    const auto colourOf = [&](int column) {
        const QBrush brush = page.table()->item(0, column)->background();
        return brush.style() == Qt::NoBrush ? QColor() : brush.color();
    };
    QCOMPARE(colourOf(4), dU);
    QCOMPARE(colourOf(6), dT);
    for (int column : {0, 1, 2, 3, 5})
        QCOMPARE(colourOf(column), QColor());
}

void TestJournalWidget::rowLimitAndExportOfTheLast1024()
{
    Page page;
    QList<Event> events;
    for (int i = 0; i < 1025; ++i)
        events << numberedEvent(i);
    QVERIFY(page.add(events));
    QCOMPARE(page.table()->rowCount(), 1024);
    // The first event went, the second is now on top.
    QCOMPARE(page.table()->item(0, 0)->text(), events[1].time().toString("HH:mm:ss yyyy-MM-dd "));
    QCOMPARE(page.table()->item(1023, 0)->text(), events[1024].time().toString("HH:mm:ss yyyy-MM-dd "));

    const QString pdf = page.dir.filePath("all.pdf");
    page.journal->setFileNameChooser([&] { return pdf; });
    page.widget->on_pb_save_clicked();
    const QString text = pdfText(pdf);
    QCOMPARE(text.count("Группа"), 1024);
    QVERIFY(!text.contains(pdfLine(events[0])));
    QVERIFY(text.contains(pdfLine(events[1])));
    QVERIFY(text.contains(pdfLine(events[1024])));
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
    QVERIFY(page.add({numberedEvent(1), numberedEvent(2), numberedEvent(3)}));
    const QByteArray fileBefore = readFile(page.journal->filePath());
    QStringList buttons;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    NextMessageBox box([&](QMessageBox* box) {
        icon = box->icon();
        for (QAbstractButton* b : box->buttons())
            buttons << b->text();
        if (answer.isEmpty())
            box->reject();
        else
            buttonWithText(box, answer)->click();
    });
    page.widget->on_pb_clear_clicked();
    QCOMPARE(box.seen, QString("Очистка|Очистить?"));
    QCOMPARE(icon, QMessageBox::Question);
    buttons.sort();
    QCOMPARE(buttons, QStringList({"Да", "Нет"}));
    QCOMPARE(page.table()->rowCount(), rows);
    // Only the table: the journal and its file keep everything.
    QCOMPARE(page.journal->recentEvents(100).size(), 3);
    QCOMPARE(readFile(page.journal->filePath()), fileBefore);
}

void TestJournalWidget::exportAfterClear()
{
    Page page;
    QVERIFY(page.add({numberedEvent(1), numberedEvent(2)}));
    {
        NextMessageBox yes([](QMessageBox* box) { buttonWithText(box, "Да")->click(); });
        page.widget->on_pb_clear_clicked();
    }
    QCOMPARE(page.table()->rowCount(), 0);

    QString name = page.dir.filePath("empty.pdf");
    page.journal->setFileNameChooser([&] { return name; });
    page.widget->on_pb_save_clicked();
    QVERIFY(QFile::exists(name));
    QVERIFY(!pdfText(name).contains("Группа"));

    const Event next = numberedEvent(3);
    QVERIFY(page.add({next}));
    QCOMPARE(page.table()->rowCount(), 1);
    name = page.dir.filePath("one.pdf");
    page.widget->on_pb_save_clicked();
    const QString text = pdfText(name);
    QCOMPARE(text.count("Группа"), 1);
    QVERIFY(text.contains(pdfLine(next)));
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
    QVERIFY(page.add({numberedEvent(1), numberedEvent(2)}));
    QTableWidget* table = page.table();
    table->clearSelection();
    table->setSelectionMode(QAbstractItemView::MultiSelection);
    table->item(1, 3)->setSelected(true);
    table->item(0, 0)->setSelected(true);
    table->item(0, 2)->setSelected(true);
    const QString expected =
        table->item(0, 0)->text() + '\t' + table->item(0, 2)->text() + '\n' + table->item(1, 3)->text();

    QApplication::clipboard()->setText("before");
    page.widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(page.widget.get()));
    QWidget* target = tableHasFocus ? static_cast<QWidget*>(table) : page.widget.get();
    QTest::keySequence(target, QKeySequence(QKeySequence::Copy));
    QCOMPARE(QApplication::clipboard()->text(), expected);

    table->clearSelection();
    QTest::keySequence(target, QKeySequence(QKeySequence::Copy));
    QCOMPARE(QApplication::clipboard()->text(), QString());
}

void TestJournalWidget::otherKeysAreLeftToTheParent()
{
    Page page;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier, "a");
    press.accept();
    QApplication::sendEvent(page.widget.get(), &press);
    QVERIFY(!press.isAccepted());
}

void TestJournalWidget::fileNameRule_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("written");
    QTest::newRow("no suffix") << "report"
                               << "report.pdf";
    QTest::newRow("upper-case suffix") << "report.PDF"
                                       << "report.PDF.pdf";
    QTest::newRow("pdf suffix") << "report.pdf"
                                << "report.pdf";
    QTest::newRow("other suffix") << "report.txt"
                                  << "report.txt.pdf";
    QTest::newRow("only the suffix") << ".pdf"
                                     << ".pdf.pdf";
    QTest::newRow("dotted folder") << "v1.pdf.d/report"
                                   << "v1.pdf.d/report.pdf";
}

void TestJournalWidget::fileNameRule()
{
    QFETCH(QString, chosen);
    QFETCH(QString, written);
    Page page;
    QDir(page.dir.path()).mkdir("v1.pdf.d");
    QVERIFY(page.add({numberedEvent(5)}));
    page.journal->setFileNameChooser([&] { return page.dir.filePath(chosen); });
    NextMessageBox box([](QMessageBox* box) { box->accept(); });
    page.widget->on_pb_save_clicked();
    QVERIFY2(box.seen.isEmpty(), qPrintable(box.seen)); // a written file is not reported
    QVERIFY(QFile::exists(page.dir.filePath(written)));
    QVERIFY(readFile(page.dir.filePath(written)).startsWith("%PDF-"));
    if (chosen != written)
        QVERIFY(!QFile::exists(page.dir.filePath(chosen)));
    QCOMPARE(QDir(page.dir.path()).entryList({"*.part"}), QStringList());
}

void TestJournalWidget::cancelledDialogWritesNothing()
{
    Page page;
    QVERIFY(page.add({numberedEvent(5)}));
    const QStringList before = QDir(page.dir.path()).entryList(QDir::Files);
    const QString previous = QDir::currentPath();
    QDir::setCurrent(page.dir.path());
    page.journal->setFileNameChooser([] { return QString(); });
    page.widget->on_pb_save_clicked();
    QDir::setCurrent(previous);
    QCOMPARE(QDir(page.dir.path()).entryList(QDir::Files), before);
    QVERIFY(!QFile::exists(page.dir.filePath(".pdf")));
}

void TestJournalWidget::failedExportIsReported()
{
    Page page;
    QVERIFY(page.add({numberedEvent(5)}));
    // An existing export stays as it was when the new one cannot be written.
    const QString occupied = page.dir.filePath("occupied.pdf");
    QDir(page.dir.path()).mkdir("occupied.pdf");
    for (const QString& target : {page.dir.filePath("missing/folder/report.pdf"), occupied}) {
        page.journal->setFileNameChooser([&] { return target; });
        NextMessageBox box([](QMessageBox* box) { box->accept(); });
        page.widget->on_pb_save_clicked();
        QCOMPARE(box.seen, "Ошибка!|Не удалось сохранить файл " + target);
    }
    QVERIFY(QFileInfo(occupied).isDir());
    QVERIFY(!QFile::exists(page.dir.filePath("missing")));
}

void TestJournalWidget::pdfHoldsTheParagraphs()
{
    Page page;
    const QDateTime t(QDate(2026, 12, 5), QTime(14, 2, 7));
    const QList<Event> events = {Event(3, 4, 2, t, 24.8, 12.61, 1.3, -0.35, true, false, 1, 1),
                                 Event(12, 7, 0, t.addSecs(5), -3.0, 1.5, -7.26, 2.0, false, true, 3, 3)};
    QVERIFY(page.add(events));
    const QString pdf = page.dir.filePath("journal.pdf");
    QVERIFY(page.journal->exportPdfTo(pdf, 2));
    const QString text = pdfText(pdf);
    QVERIFY2(text.contains(
                 "Группа 2 МСД 03 : МКП 05 Начало 14:02:07 05/12/2026 12.61 В (-0.35 В) 24.8 С (1.3 С) Не "
                 "подтверждено"),
             qPrintable(text));
    QVERIFY2(
        text.contains("Группа 0 МСД 12 : МКП 08 Конец 14:02:12 05/12/2026 1.50 В (2.00 В) -3.0 С (-7.3 С) "
                      "Подтверждено"),
        qPrintable(text));
    QVERIFY(text.indexOf("Группа 2") < text.indexOf("Группа 0"));
    // A4 portrait, in points.
    QProcess info;
    info.start("pdfinfo", {pdf});
    QVERIFY(info.waitForFinished(30000));
    const QString pageInfo = QString::fromUtf8(info.readAllStandardOutput());
    QVERIFY2(
        pageInfo.contains(QRegularExpression("Page size: +595(\\.\\d+)? x 84[12](\\.\\d+)? pts \\(A4\\)")),
        qPrintable(pageInfo));
}

void TestJournalWidget::filledWithTheNewestAtStart()
{
    QByteArray file = "<html>\n<body>\n";
    for (int i = 0; i < 1030; ++i)
        file += paragraphBytes(numberedEvent(i)) + '\n';
    Page page(file + JournalFormat::closingTags);
    QCOMPARE(page.table()->rowCount(), 1024);
    QCOMPARE(page.table()->item(0, 0)->text(), numberedEvent(6).time().toString("HH:mm:ss yyyy-MM-dd "));
    QCOMPARE(page.table()->item(1023, 3)->text(), QString("10,29"));
}

QTEST_MAIN(TestJournalWidget)
#include "tst_journal_widget.moc"
