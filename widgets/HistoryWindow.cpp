#include "widgets/HistoryWindow.h"

#include "history/HistoryQuery.h"
#include "widgets/HistoryPlot.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>
#include <qwt_interval.h>

namespace {

const QColor batteryColor(0, 90, 200);
const QColor meanColor(Qt::black);
const QColor warningColor(255, 236, 150);
const QColor emergencyColor(255, 205, 205);
// How often "Сейчас" looks for new readings: a few sweeps.
constexpr int followMs = 10000;

// Members of a group in colours that tell neighbours apart; beyond the list, hues around the wheel.
QColor memberColor(int index)
{
    static const QColor colors[] = {{31, 119, 180},  {255, 127, 14}, {44, 160, 44},   {214, 39, 40},
                                    {148, 103, 189}, {140, 86, 75},  {227, 119, 194}, {127, 127, 127},
                                    {188, 189, 34},  {23, 190, 207}};
    const int n = int(sizeof(colors) / sizeof(colors[0]));
    if (index < n)
        return colors[index];
    return QColor::fromHsv((index * 137) % 360, 200, 190);
}

} // namespace

HistoryWindow::HistoryWindow(const QString& databasePath, const HistoryTarget& target,
                             const AlarmThresholds& thresholds, QWidget* parent)
    : QWidget(parent, Qt::Window), m_path(databasePath), m_target(target), m_thresholds(thresholds)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(m_target.kind == HistoryTarget::Kind::Battery
                       ? tr("История: %1").arg(m_target.label)
                       : tr("История группы %1").arg(m_target.group));
    // The query asks the window's clock, which tests set after construction.
    m_query = std::make_unique<HistoryQuery>(m_path, [this] {
        return m_clock ? m_clock().toMSecsSinceEpoch() : QDateTime::currentMSecsSinceEpoch();
    });
    m_reporter = [](QWidget* parent, const QString& title, const QString& text) {
        QMessageBox::information(parent, title, text);
    };
    m_chooser = [](QWidget* parent, const QString& suggested) {
        return QFileDialog::getSaveFileName(parent, tr("Сохранить в CSV"), suggested,
                                            tr("Таблица CSV (*.csv);;Все файлы (*)"));
    };

    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    m_spanBar = new HistorySpanBar(this);
    m_export = new QPushButton(tr("Сохранить в CSV…"), this);
    top->addWidget(m_spanBar, 1);
    top->addWidget(m_export);
    layout->addLayout(top);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    m_voltagePlot = new HistoryPlot(tr("Напряжение, В"), splitter);
    m_temperaturePlot = new HistoryPlot(tr("Температура, °C"), splitter);
    splitter->addWidget(m_voltagePlot);
    splitter->addWidget(m_temperaturePlot);
    layout->addWidget(splitter, 1);
    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    layout->addWidget(m_status);

    m_follow = new QTimer(this);
    m_follow->setInterval(followMs);
    connect(m_follow, &QTimer::timeout, this, &HistoryWindow::follow);
    connect(m_spanBar, &HistorySpanBar::rangeChosen, this, &HistoryWindow::showPeriod);
    connect(m_export, &QPushButton::clicked, this, &HistoryWindow::exportCsv);
    connect(m_voltagePlot, &HistoryPlot::timeRangeMoved, this,
            [this](const QwtInterval& range) { timeMoved(m_temperaturePlot, range); });
    connect(m_temperaturePlot, &HistoryPlot::timeRangeMoved, this,
            [this](const QwtInterval& range) { timeMoved(m_voltagePlot, range); });
}

void HistoryWindow::fitInto(const QRect& area)
{
    const QSize size = QSize(1200, 860).boundedTo(area.size() * 0.9).expandedTo(minimumSizeHint());
    resize(size.boundedTo(area.size()));
    move(area.center() - rect().center());
}

void HistoryWindow::timeMoved(HistoryPlot* other, const QwtInterval& range)
{
    // Zoomed or panned by hand: the time axes stay in step, and the view stays put.
    other->setTimeRange(range);
    m_spanBar->setFollowing(false);
}

void HistoryWindow::follow()
{
    if (m_spanBar->isFollowing() && m_spanBar->span() != HistorySpan::Period)
        showSpan(m_spanBar->span());
}

HistorySpan HistoryWindow::firstSpan()
{
    const qint64 first = m_query->firstTime();
    return HistorySpanBar::spanHolding(first < 0 ? QDateTime() : QDateTime::fromMSecsSinceEpoch(first),
                                       m_spanBar->now());
}

HistoryWindow::~HistoryWindow() = default;

QString HistoryWindow::groupMeanName()
{
    return tr("Среднее по группе");
}

QString HistoryWindow::warningName()
{
    return tr("Предупреждение");
}

QString HistoryWindow::emergencyName()
{
    return tr("Авария");
}

void HistoryWindow::setClock(Clock clock)
{
    m_clock = clock;
    m_spanBar->setClock(std::move(clock));
}

void HistoryWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_loadedOnce) {
        if (const QScreen* s = screen())
            fitInto(s->availableGeometry());
        showSpan(firstSpan());
    }
    m_follow->start();
}

void HistoryWindow::showSpan(HistorySpan span)
{
    m_spanBar->choose(span);
}

void HistoryWindow::showPeriod(const QDateTime& from, const QDateTime& to)
{
    load(from.toMSecsSinceEpoch(), to.toMSecsSinceEpoch());
}

void HistoryWindow::load(qint64 from, qint64 to)
{
    m_loadedOnce = true;
    const HistoryResolution resolution = m_query->resolutionFor(from, to);
    m_members = m_query->groupSeries(m_target.members, from, to, resolution);
    m_mean = HistoryQuery::meanOf(m_members);
    m_mean.resolution = resolution;

    m_model = HistoryPlotModel();
    m_model.from = from;
    m_model.to = to;
    m_model.resolution = resolution;
    buildPlots(m_members, m_mean, HistoryPlotModel::stepOf(m_mean));
    m_voltagePlot->showPlot(m_model.voltage, from, to);
    m_temperaturePlot->showPlot(m_model.temperature, from, to);

    QString status =
        tr("%1 — %2, %3")
            .arg(QDateTime::fromMSecsSinceEpoch(from).toString(QStringLiteral("dd.MM.yyyy hh:mm")),
                 QDateTime::fromMSecsSinceEpoch(to).toString(QStringLiteral("dd.MM.yyyy hh:mm")),
                 resolutionText(resolution));
    if (!m_query->lastError().isEmpty())
        status += tr(". Ошибка чтения истории: %1").arg(m_query->lastError());
    m_status->setText(status);
    emit loaded();
}

void HistoryWindow::buildPlots(const QVector<HistorySeries>& members, const HistorySeries& mean, qint64 step)
{
    const struct
    {
        HistoryPlotModel::Plot* plot;
        double HistoryPoint::*value;
        double warnBelow, warnAbove, emergBelow, emergAbove;
    } quantities[] = {{&m_model.voltage, &HistoryPoint::vMean, m_thresholds.voltLowWarning,
                       m_thresholds.voltHighWarning, m_thresholds.voltLowEmergency,
                       m_thresholds.voltHighEmergency},
                      {&m_model.temperature, &HistoryPoint::tMean, m_thresholds.tempWarning,
                       m_thresholds.tempWarning, m_thresholds.tempEmergency, m_thresholds.tempEmergency}};

    for (const auto& q : quantities) {
        // Each band is the zone beyond its edges: the emergency zone over the wider warning one.
        q.plot->bands.append({warningName(), warningColor,
                              HistoryPlotModel::bandOf(mean, q.value, q.warnBelow, q.warnAbove, step)});
        q.plot->bands.append({emergencyName(), emergencyColor,
                              HistoryPlotModel::bandOf(mean, q.value, q.emergBelow, q.emergAbove, step)});
        for (int i = 0; i < members.size(); ++i) {
            const int battery = m_target.members.value(i, -1);
            HistoryPlotModel::Curve c;
            c.battery = battery;
            c.runs = HistoryPlotModel::runsOf(members[i], q.value, step);
            if (m_target.kind == HistoryTarget::Kind::Battery) {
                if (battery != m_target.battery)
                    continue;
                c.name = m_target.label;
                c.color = batteryColor;
                c.width = 2;
            } else {
                c.name = m_target.memberLabels.value(i);
                c.color = memberColor(i);
            }
            q.plot->curves.append(c);
        }
        HistoryPlotModel::Curve m;
        m.name = groupMeanName();
        m.color = meanColor;
        m.width = 2;
        m.runs = HistoryPlotModel::runsOf(mean, q.value, step);
        q.plot->curves.append(m);
    }
}

QVector<HistoryCsvColumn> HistoryWindow::csvColumns() const
{
    QVector<HistoryCsvColumn> columns;
    const bool battery = m_target.kind == HistoryTarget::Kind::Battery;
    const QString volts = tr("%1, В");
    const QString degrees = tr("%1, °C");
    for (int i = 0; i < m_members.size(); ++i) {
        if (battery && m_target.members.value(i) == m_target.battery)
            columns.append(HistoryCsv::voltageColumn(volts.arg(m_target.label), m_members[i]));
        else if (!battery)
            columns.append(
                HistoryCsv::voltageColumn(volts.arg(m_target.memberLabels.value(i)), m_members[i]));
    }
    columns.append(HistoryCsv::voltageColumn(volts.arg(groupMeanName()), m_mean));
    for (int i = 0; i < m_members.size(); ++i) {
        if (battery && m_target.members.value(i) == m_target.battery)
            columns.append(HistoryCsv::temperatureColumn(degrees.arg(m_target.label), m_members[i]));
        else if (!battery)
            columns.append(
                HistoryCsv::temperatureColumn(degrees.arg(m_target.memberLabels.value(i)), m_members[i]));
    }
    columns.append(HistoryCsv::temperatureColumn(degrees.arg(groupMeanName()), m_mean));
    return columns;
}

QString HistoryWindow::suggestedFileName() const
{
    const QString day = QDateTime::fromMSecsSinceEpoch(m_model.to).toString(QStringLiteral("yyyy-MM-dd"));
    const QString name = m_target.kind == HistoryTarget::Kind::Battery
                             ? tr("история-батарея-%1-%2.csv").arg(m_target.battery).arg(day)
                             : tr("история-группа-%1-%2.csv").arg(m_target.group).arg(day);
    return QDir::home().filePath(name);
}

bool HistoryWindow::exportCsv()
{
    const QString path = m_chooser ? m_chooser(this, suggestedFileName()) : QString();
    if (path.isEmpty())
        return false;
    if (HistoryCsv::write(path, csvColumns()))
        return true;
    if (m_reporter)
        m_reporter(this, tr("Ошибка!"), tr("Не удалось сохранить файл ") + path);
    return false;
}

QString HistoryWindow::resolutionText(HistoryResolution resolution)
{
    switch (resolution) {
    case HistoryResolution::Raw:
        return tr("каждый опрос");
    case HistoryResolution::Minute:
        return tr("средние за минуту");
    case HistoryResolution::Hour:
        return tr("средние за час");
    case HistoryResolution::Auto:
        break;
    }
    return QString();
}
