#include "journal/JournalWidget.h"

#include "config/ProgramMode.h"
#include "core/StateCode.h"
#include "journal/Journal.h"
#include "journal/JournalFormat.h"

#include <QApplication>
#include <QClipboard>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>

namespace {

// The journal file's digits (halves away from zero) with the page's decimal comma, right
// aligned in `width` like printf's field width, at most 13 characters like the tiles.
QString pageNumber(double value, int width, int decimals)
{
    return JournalFormat::fixedNumber(value, decimals)
        .replace(QLatin1Char('.'), QLatin1Char(','))
        .rightJustified(width)
        .left(13);
}

QBrush stateBrush(int state)
{
    if (state == StateCode::Warning)
        return QBrush(Qt::yellow);
    if (state == StateCode::Emergency)
        return QBrush(Qt::red);
    return QBrush();
}

// " предел U>14,40 В" after the deviation the limit outranks, in the page's digits.
void showLimit(QTableWidget* table, int row, const Event& event)
{
    if (!event.limitQuantity())
        return;
    const bool volt = event.limitQuantity() == 'U';
    QTableWidgetItem* item = table->item(row, volt ? 4 : 6);
    item->setText(item->text() + QStringLiteral("  предел ") + QLatin1Char(event.limitQuantity()) +
                  QLatin1Char(event.limitDirection()) + pageNumber(event.limitValue(), 0, volt ? 2 : 1) +
                  (volt ? QStringLiteral(" В") : QStringLiteral(" С")));
}

} // namespace

JournalWidget::JournalWidget(Journal* journal, QWidget* parent) : QWidget(parent), journal(journal)
{
    setupUi();
    if (journal) {
        const QList<Event> recent = journal->recentEvents(maxRows);
        for (const Event& event : recent)
            updateJournalWidget(event);
    }
}

JournalWidget::~JournalWidget() = default;

void JournalWidget::setupUi()
{
    setObjectName(QStringLiteral("JournalWidget"));
    resize(827, 434);
    setWindowTitle(tr("Form"));

    gridLayout = new QGridLayout(this);
    gridLayout->setObjectName(QStringLiteral("gridLayout"));
    // The page stands in the window's page stack, which has margins of its own; the table
    // needs the width for its seven columns.
    gridLayout->setContentsMargins(0, 0, 0, 0);

    tableWidget = new QTableWidget(this);
    tableWidget->setObjectName(QStringLiteral("tableWidget"));
    tableWidget->setColumnCount(7);
    tableWidget->horizontalHeader()->setStretchLastSection(true);
    // The date and the long headers must show whole; the last column takes what is left.
    // Fitted after new rows while shown, or when shown: fitting at every row walks them all.
    tableWidget->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    tableWidget->horizontalHeader()->setSortIndicatorShown(false);
    tableWidget->verticalHeader()->setVisible(false);
    const QString degrees = QStringLiteral("\u00b0C");
    tableWidget->setHorizontalHeaderLabels(
        {tr("Время"), tr("Группа"), modbusMode ? tr("№ батареи") : tr("МСД:МКП"), tr("Напряжение, B"),
         tr("dU, B"), tr("Температура, ") + degrees, tr("dT, ") + degrees});
    // The page copies selections itself, also while the table has the focus.
    tableWidget->installEventFilter(this);
    gridLayout->addWidget(tableWidget, 0, 0);

    horizontalLayout = new QHBoxLayout();
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    pb_clear = new QPushButton(tr("Очистить"), this);
    pb_clear->setObjectName(QStringLiteral("pb_clear"));
    pb_clear->setMaximumWidth(100);
    horizontalLayout->addWidget(pb_clear);
    horizontalSpacer = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout->addItem(horizontalSpacer);
    pb_save = new QPushButton(tr("Сохранить"), this);
    pb_save->setObjectName(QStringLiteral("pb_save"));
    pb_save->setMaximumWidth(100);
    horizontalLayout->addWidget(pb_save);
    gridLayout->addLayout(horizontalLayout, 1, 0);

    QMetaObject::connectSlotsByName(this);
}

void JournalWidget::updateJournalWidget(Event event)
{
    if (tableWidget->rowCount() > maxRows - 1)
        tableWidget->removeRow(0);
    const int row = tableWidget->rowCount();
    tableWidget->insertRow(row);
    fitColumnsSoon();
    if (event.kind() != Event::Kind::Alarm)
        return fillCommRow(row, event);

    const QString battery = modbusMode ? QString::number(event.batteryNumber())
                                       : QString::number(event.msdIndex()) + QLatin1Char(':') +
                                             QString::number(event.mkpIndex() + 1);
    const QString texts[7] = {QLocale::c().toString(event.time(), QStringLiteral("HH:mm:ss yyyy-MM-dd ")),
                              QString::number(event.groupNumber()),
                              battery,
                              pageNumber(event.voltage(), 4, 2),
                              pageNumber(event.voltDeviation(), 4, 2),
                              pageNumber(event.temperature(), 4, 1),
                              pageNumber(event.tempDeviation(), 3, 1)};
    for (int column = 0; column < 7; ++column)
        tableWidget->setItem(row, column, new QTableWidgetItem(texts[column]));
    tableWidget->item(row, 4)->setBackground(stateBrush(event.voltState()));
    tableWidget->item(row, 6)->setBackground(stateBrush(event.tempState()));
    showLimit(tableWidget, row, event);
}

void JournalWidget::fillCommRow(int row, const Event& event)
{
    const bool modbus = event.modbusAddress() > 0;
    const QString source = modbus ? tr("адрес ") + QString::number(event.modbusAddress())
                                  : QStringLiteral("МСД %1").arg(event.msdIndex(), 2, 10, QLatin1Char('0'));
    const bool lost = event.kind() == Event::Kind::CommLost;
    tableWidget->setItem(
        row, 0,
        new QTableWidgetItem(QLocale::c().toString(event.time(), QStringLiteral("HH:mm:ss yyyy-MM-dd "))));
    tableWidget->setItem(row, 1,
                         new QTableWidgetItem(modbus ? QString::number(event.groupNumber()) : QString()));
    tableWidget->setItem(row, 2, new QTableWidgetItem(source));
    auto* words = new QTableWidgetItem(lost ? tr("нет связи") : tr("связь восстановлена"));
    words->setTextAlignment(Qt::AlignCenter);
    // A lost link is a warning until the operator confirms it.
    if (lost && !event.isConfirmed())
        words->setBackground(stateBrush(StateCode::Warning));
    tableWidget->setItem(row, 3, words);
    // Covered by the words, yet present: every cell of a row is an item to copy and export.
    for (int column = 4; column < 7; ++column)
        tableWidget->setItem(row, column, new QTableWidgetItem());
    tableWidget->setSpan(row, 3, 1, 4);
}

void JournalWidget::on_pb_clear_clicked()
{
    QMessageBox box(QMessageBox::Question, tr("Очистка"), tr("Очистить?"),
                    QMessageBox::Yes | QMessageBox::No);
    box.setButtonText(QMessageBox::Yes, tr("Да"));
    box.setButtonText(QMessageBox::No, tr("Нет"));
    if (box.exec() == QMessageBox::Yes) {
        tableWidget->setRowCount(0);
        fitColumnsSoon();
    }
}

void JournalWidget::on_pb_save_clicked()
{
    if (journal)
        journal->exportPdf(tableWidget->rowCount());
}

QString JournalWidget::selectedText() const
{
    QList<QTableWidgetItem*> items = tableWidget->selectedItems();
    std::sort(items.begin(), items.end(), [](const QTableWidgetItem* a, const QTableWidgetItem* b) {
        return a->row() != b->row() ? a->row() < b->row() : a->column() < b->column();
    });
    QString text;
    int previousRow = -1;
    for (const QTableWidgetItem* item : qAsConst(items)) {
        if (!text.isEmpty())
            text += item->row() != previousRow ? QLatin1Char('\n') : QLatin1Char('\t');
        text += item->text();
        previousRow = item->row();
    }
    return text;
}

void JournalWidget::copySelection()
{
    QApplication::clipboard()->setText(selectedText());
}

void JournalWidget::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        copySelection();
        event->accept();
        return;
    }
    event->ignore();
}

bool JournalWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == tableWidget && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        copySelection();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void JournalWidget::fitColumnsSoon()
{
    columnsStale = true;
    if (!isVisible() || fitQueued)
        return;
    fitQueued = true;
    QTimer::singleShot(0, this, [this] {
        fitQueued = false;
        fitColumns();
    });
}

void JournalWidget::fitColumns()
{
    if (!columnsStale)
        return;
    columnsStale = false;
    tableWidget->resizeColumnsToContents();
}

void JournalWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    fitColumns();
}
