#include "widgets/HistorySpanBar.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDateTimeEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace {

QDateTimeEdit* makeEdit(QWidget* parent)
{
    auto* edit = new QDateTimeEdit(parent);
    edit->setCalendarPopup(true);
    edit->setDisplayFormat(QStringLiteral("dd.MM.yyyy hh:mm"));
    return edit;
}

} // namespace

HistorySpanBar::HistorySpanBar(QWidget* parent) : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    m_buttons = new QButtonGroup(this);
    const struct
    {
        HistorySpan span;
        const char* text;
    } spans[] = {{HistorySpan::Hour, "Час"},    {HistorySpan::Day, "Сутки"},
                 {HistorySpan::Week, "Неделя"}, {HistorySpan::Month, "Месяц"},
                 {HistorySpan::Year, "Год"},    {HistorySpan::Period, "Период…"}};
    for (const auto& s : spans) {
        auto* b = new QPushButton(tr(s.text), this);
        b->setCheckable(true);
        m_buttons->addButton(b, int(s.span));
        row->addWidget(b);
    }
    m_buttons->button(int(m_span))->setChecked(true);
    m_follow = new QCheckBox(tr("Сейчас"), this);
    m_follow->setChecked(true);
    m_follow->setToolTip(tr("Показывать новые показания по мере их записи"));
    row->addWidget(m_follow);

    m_period = new QWidget(this);
    auto* period = new QHBoxLayout(m_period);
    period->setContentsMargins(8, 0, 0, 0);
    m_from = makeEdit(m_period);
    m_to = makeEdit(m_period);
    m_show = new QPushButton(tr("Показать"), m_period);
    period->addWidget(new QLabel(tr("с"), m_period));
    period->addWidget(m_from);
    period->addWidget(new QLabel(tr("по"), m_period));
    period->addWidget(m_to);
    period->addWidget(m_show);
    m_period->setVisible(false);
    row->addWidget(m_period);
    row->addStretch(1);

    connect(m_buttons, &QButtonGroup::idClicked, this, &HistorySpanBar::pressed);
    connect(m_show, &QPushButton::clicked, this, &HistorySpanBar::showPeriod);
    connect(m_follow, &QCheckBox::toggled, this, &HistorySpanBar::followToggled);
}

HistorySpan HistorySpanBar::spanHolding(const QDateTime& first, const QDateTime& end)
{
    for (HistorySpan span : {HistorySpan::Hour, HistorySpan::Day, HistorySpan::Week, HistorySpan::Month})
        if (!first.isValid() || startOf(span, end) <= first)
            return span;
    return HistorySpan::Year;
}

bool HistorySpanBar::isFollowing() const
{
    return m_follow->isChecked();
}

void HistorySpanBar::setFollowing(bool on)
{
    m_follow->setChecked(on);
}

void HistorySpanBar::followToggled(bool on)
{
    // Turned on by hand over a chosen period: back to the last preset, ending now.
    if (on && m_span == HistorySpan::Period)
        choose(m_preset);
}

QDateTime HistorySpanBar::startOf(HistorySpan span, const QDateTime& end)
{
    switch (span) {
    case HistorySpan::Hour:
        return end.addSecs(-3600);
    case HistorySpan::Day:
        return end.addDays(-1);
    case HistorySpan::Week:
        return end.addDays(-7);
    case HistorySpan::Month:
        return end.addMonths(-1);
    case HistorySpan::Year:
        return end.addYears(-1);
    case HistorySpan::Period:
        break;
    }
    return end;
}

QAbstractButton* HistorySpanBar::button(HistorySpan span) const
{
    return m_buttons->button(int(span));
}

void HistorySpanBar::choose(HistorySpan span)
{
    button(span)->click();
}

void HistorySpanBar::pressed(int id)
{
    m_span = HistorySpan(id);
    if (m_span == HistorySpan::Period) {
        // The fields open on the last day.
        if (!m_period->isVisibleTo(this)) {
            const QDateTime end = now();
            m_to->setDateTime(end);
            m_from->setDateTime(end.addDays(-1));
        }
        m_period->setVisible(true);
        return;
    }
    m_period->setVisible(false);
    m_preset = m_span;
    setFollowing(true);
    const QDateTime end = now();
    emit rangeChosen(startOf(m_span, end), end);
}

void HistorySpanBar::showPeriod()
{
    setFollowing(false);
    const QDateTime from = m_from->dateTime();
    const QDateTime to = m_to->dateTime();
    if (from < to)
        emit rangeChosen(from, to);
    else
        emit rangeChosen(to, from);
}
