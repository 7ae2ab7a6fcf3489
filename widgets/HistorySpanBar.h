#pragma once

#include <QDateTime>
#include <QWidget>
#include <functional>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
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
// two date fields and "Показать". Says which stretch to show with rangeChosen(). While
// "Сейчас" is on, the preset span is meant to follow the readings as they come.
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
    // The shortest preset span ending at `end` that reaches back to `first`; an hour at
    // least, a year at most. An invalid `first` (no data) asks for an hour.
    static HistorySpan spanHolding(const QDateTime& first, const QDateTime& end);

    bool isFollowing() const;
    void setFollowing(bool on);

    QAbstractButton* button(HistorySpan span) const;
    QDateTimeEdit* fromEdit() const { return m_from; }
    QDateTimeEdit* toEdit() const { return m_to; }
    QPushButton* showButton() const { return m_show; }
    QCheckBox* followBox() const { return m_follow; }

signals:
    void rangeChosen(const QDateTime& from, const QDateTime& to);

private:
    void pressed(int id);
    void showPeriod();
    void followToggled(bool on);

    Clock m_clock;
    HistorySpan m_span = HistorySpan::Day;
    HistorySpan m_preset = HistorySpan::Day; // the last preset, which "Сейчас" goes back to
    QButtonGroup* m_buttons = nullptr;
    QWidget* m_period = nullptr;
    QDateTimeEdit* m_from = nullptr;
    QDateTimeEdit* m_to = nullptr;
    QPushButton* m_show = nullptr;
    QCheckBox* m_follow = nullptr;
};
