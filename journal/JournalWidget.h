#pragma once

#include "journal/Event.h"

#include <QWidget>

class Journal;
class QGridLayout;
class QHBoxLayout;
class QPushButton;
class QSpacerItem;
class QTableWidget;

// The journal page: one row per event, newest at the bottom, at most maxRows rows.
class JournalWidget : public QWidget
{
    Q_OBJECT
public:
    static constexpr int maxRows = 1024;

    // Shows the newest events the journal already holds (read back at start-up).
    explicit JournalWidget(Journal* journal, QWidget* parent = nullptr);
    ~JournalWidget() override;

    QTableWidget* table() const { return tableWidget; }
    // The selected cells as tab- and line-separated text, in row and column order.
    QString selectedText() const;

public slots:
    void updateJournalWidget(Event event);
    void on_pb_clear_clicked();
    void on_pb_save_clicked();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setupUi();
    void copySelection();
    // A communication event: its source, and its words across the value cells.
    void fillCommRow(int row, const Event& event);
    void fitColumnsSoon();
    void fitColumns();

    Journal* journal;
    QGridLayout* gridLayout = nullptr;
    QTableWidget* tableWidget = nullptr;
    QHBoxLayout* horizontalLayout = nullptr;
    QPushButton* pb_clear = nullptr;
    QSpacerItem* horizontalSpacer = nullptr;
    QPushButton* pb_save = nullptr;
    bool columnsStale = true;
    bool fitQueued = false;
};
