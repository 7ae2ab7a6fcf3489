#pragma once

#include <QDateTime>
#include <QWidget>
#include <functional>

class QAbstractButton;
class QButtonGroup;
class QDateTimeEdit;
class QPushButton;

enum class HistorySpan
{
    Hour,
    Day,
    Week,
    Month,
    Year,
    Period // from and to chosen by hand
};

// The row of span buttons over the history plots. A preset span ends now; "Период…" opens
// two date fields and "Показать". Says which stretch to show with rangeChosen().
class HistorySpanBar : public QWidget
{
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;

    explicit HistorySpanBar(QWidget* parent = nullptr);

    void setClock(Clock clock) { m_clock = std::move(clock); }
    QDateTime now() const { return m_clock ? m_clock() : QDateTime::currentDateTime(); }

    // Presses the span's button: a preset emits its stretch at once, Period opens the fields.
    void choose(HistorySpan span);
    HistorySpan span() const { return m_span; }
    static QDateTime startOf(HistorySpan span, const QDateTime& end);

    QAbstractButton* button(HistorySpan span) const;
    QDateTimeEdit* fromEdit() const { return m_from; }
    QDateTimeEdit* toEdit() const { return m_to; }
    QPushButton* showButton() const { return m_show; }

signals:
    void rangeChosen(const QDateTime& from, const QDateTime& to);

private:
    void pressed(int id);
    void showPeriod();

    Clock m_clock;
    HistorySpan m_span = HistorySpan::Day;
    QButtonGroup* m_buttons = nullptr;
    QWidget* m_period = nullptr;
    QDateTimeEdit* m_from = nullptr;
    QDateTimeEdit* m_to = nullptr;
    QPushButton* m_show = nullptr;
};
