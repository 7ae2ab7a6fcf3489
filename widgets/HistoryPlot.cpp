#include "widgets/HistoryPlot.h"

#include "widgets/HistoryValueScaleDraw.h"

#include <QPainter>
#include <QWheelEvent>
#include <cmath>
#include <qwt_clipper.h>
#include <qwt_date_scale_draw.h>
#include <qwt_date_scale_engine.h>
#include <qwt_legend.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_intervalcurve.h>
#include <qwt_plot_layout.h>
#include <qwt_plot_panner.h>
#include <qwt_plot_textlabel.h>
#include <qwt_plot_zoomer.h>
#include <qwt_scale_map.h>
#include <qwt_scale_widget.h>

namespace {

// Where each run begins in the concatenated samples, and its length.
struct Span
{
    int first;
    int count;
};

template <typename Run> QVector<Span> spansOf(const QVector<Run>& runs)
{
    QVector<Span> spans;
    int first = 0;
    for (const Run& r : runs) {
        spans.append({first, int(r.size())});
        first += r.size();
    }
    return spans;
}

// Calls part(span, a, b) for the samples a..b of each run that lie within from..to, the
// range Qwt asks to draw (to < 0: up to the last sample).
template <typename Part>
void forEachVisiblePart(const QVector<Span>& spans, int from, int to, int size, Part part)
{
    if (to < 0)
        to = size - 1;
    for (const Span& s : spans) {
        const int a = qMax(from, s.first);
        const int b = qMin(to, s.first + s.count - 1);
        if (a <= b)
            part(s, a, b);
    }
}

// A curve drawn run by run: lines never join across a gap. A run of one point is a dot.
class RunCurve : public QwtPlotCurve
{
public:
    explicit RunCurve(const HistoryPlotModel::Curve& curve) : QwtPlotCurve(curve.name)
    {
        QVector<QPointF> all;
        for (const HistoryPlotModel::Run& r : curve.runs)
            all += r;
        m_spans = spansOf(curve.runs);
        setSamples(all);
        setPen(curve.color, curve.width);
        setRenderHint(QwtPlotItem::RenderAntialiased, true);
        setLegendAttribute(QwtPlotCurve::LegendShowLine, true);
    }

protected:
    void drawSeries(QPainter* painter, const QwtScaleMap& xMap, const QwtScaleMap& yMap,
                    const QRectF& canvasRect, int from, int to) const override
    {
        forEachVisiblePart(m_spans, from, to, int(dataSize()), [&](const Span& s, int a, int b) {
            if (s.count > 1) {
                QwtPlotCurve::drawSeries(painter, xMap, yMap, canvasRect, a, b);
                return;
            }
            const QPointF p = sample(a);
            QPen dot = pen();
            dot.setWidthF(pen().widthF() + 3);
            dot.setCapStyle(Qt::RoundCap);
            painter->save();
            painter->setPen(dot);
            painter->drawPoint(QPointF(xMap.transform(p.x()), yMap.transform(p.y())));
            painter->restore();
        });
    }

private:
    QVector<Span> m_spans;
};

// A zone beyond two edges around the group's mean, filled up and down to the canvas' ends,
// likewise run by run: the zone between the edges stays plain.
class RunBand : public QwtPlotIntervalCurve
{
public:
    explicit RunBand(const HistoryPlotModel::Band& band) : QwtPlotIntervalCurve(band.name)
    {
        QVector<QwtIntervalSample> all;
        for (const HistoryPlotModel::BandRun& r : band.runs)
            for (const HistoryBandSample& s : r)
                all.append(QwtIntervalSample(s.t, s.low, s.high));
        m_spans = spansOf(band.runs);
        setSamples(all);
        setStyle(QwtPlotIntervalCurve::Tube);
        setBrush(band.color);
        setPen(band.color.darker(130), 0);
    }

    // Room over and under the edges, so the zone beyond them shows.
    QRectF boundingRect() const override
    {
        const QRectF r = QwtPlotIntervalCurve::boundingRect();
        const double margin = r.height() > 0 ? 0.12 * r.height() : 0.0;
        return r.adjusted(0, -margin, 0, margin);
    }

protected:
    void drawSeries(QPainter* painter, const QwtScaleMap& xMap, const QwtScaleMap& yMap,
                    const QRectF& canvasRect, int from, int to) const override
    {
        const QRectF clip = canvasRect.adjusted(-2, -2, 2, 2);
        forEachVisiblePart(m_spans, from, to, int(dataSize()), [&](const Span&, int a, int b) {
            QPolygonF high, low;
            for (int i = a; i <= b; ++i) {
                const QwtIntervalSample s = sample(i);
                const double x = xMap.transform(s.value);
                high.append(QPointF(x, yMap.transform(s.interval.maxValue())));
                low.append(QPointF(x, yMap.transform(s.interval.minValue())));
            }
            painter->save();
            painter->setPen(Qt::NoPen);
            painter->setBrush(brush());
            for (const auto& edge : {std::make_pair(high, clip.top()), std::make_pair(low, clip.bottom())}) {
                QPolygonF zone = edge.first;
                zone << QPointF(zone.last().x(), edge.second) << QPointF(zone.first().x(), edge.second);
                painter->drawPolygon(QwtClipper::clipPolygonF(clip, zone, true));
            }
            painter->setPen(pen());
            painter->drawPolyline(QwtClipper::clipPolygonF(clip, high));
            painter->drawPolyline(QwtClipper::clipPolygonF(clip, low));
            painter->restore();
        });
    }

private:
    QVector<Span> m_spans;
};

} // namespace

HistoryPlot::HistoryPlot(const QString& valueTitle, QWidget* parent) : QwtPlot(parent)
{
    setCanvasBackground(Qt::white);
    setAxisTitle(QwtPlot::yLeft, valueTitle);
    setAxisScaleDraw(QwtPlot::yLeft, new HistoryValueScaleDraw);
    setAxisTitle(QwtPlot::xBottom, tr("Время"));
    // Dates the Russian way, the time over the day it belongs to.
    auto* dates = new QwtDateScaleDraw(Qt::LocalTime);
    dates->setDateFormat(QwtDate::Second, QStringLiteral("hh:mm:ss\ndd.MM.yyyy"));
    dates->setDateFormat(QwtDate::Minute, QStringLiteral("hh:mm\ndd.MM.yyyy"));
    dates->setDateFormat(QwtDate::Hour, QStringLiteral("hh:mm\ndd.MM.yyyy"));
    dates->setDateFormat(QwtDate::Day, QStringLiteral("dd.MM.yyyy"));
    dates->setDateFormat(QwtDate::Week, QStringLiteral("dd.MM.yyyy"));
    dates->setDateFormat(QwtDate::Month, QStringLiteral("MM.yyyy"));
    dates->setDateFormat(QwtDate::Year, QStringLiteral("yyyy"));
    setAxisScaleDraw(QwtPlot::xBottom, dates);
    setAxisScaleEngine(QwtPlot::xBottom, new QwtDateScaleEngine(Qt::LocalTime));
    // A group of many batteries scrolls in its legend rather than stretching the window.
    auto* legend = new QwtLegend;
    legend->setMaxColumns(1);
    insertLegend(legend, QwtPlot::RightLegend);
    plotLayout()->setLegendRatio(0.3);
    // Shrinks to its minimum, not its size hint: the window must fit a small screen.
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

    auto* grid = new QwtPlotGrid;
    grid->setMajorPen(QColor(220, 220, 220), 0, Qt::DotLine);
    grid->attach(this);

    QwtText text(noDataText());
    text.setColor(Qt::darkGray);
    QFont font = text.font();
    font.setPointSize(14);
    text.setFont(font);
    m_noData = new QwtPlotTextLabel;
    m_noData->setText(text);
    m_noData->setZ(100);
    m_noData->setItemAttribute(QwtPlotItem::Legend, false);
    m_noData->attach(this);

    m_zoomer = new QwtPlotZoomer(canvas());
    m_zoomer->setTrackerMode(QwtPicker::AlwaysOff);
    m_zoomer->setRubberBandPen(QPen(Qt::darkBlue, 1, Qt::DashLine));
    // The right button steps back one zoom, as the middle one would.
    m_zoomer->setMousePattern(QwtEventPattern::MouseSelect2, Qt::RightButton, Qt::ControlModifier);
    m_zoomer->setMousePattern(QwtEventPattern::MouseSelect3, Qt::RightButton);
    auto* panner = new QwtPlotPanner(canvas());
    panner->setMouseButton(Qt::LeftButton, Qt::ControlModifier);
    panner->setOrientations(Qt::Horizontal);
    canvas()->setFocusPolicy(Qt::StrongFocus); // Esc reaches the zoomer once the plot is clicked
    canvas()->installEventFilter(this);
    connect(axisWidget(QwtPlot::xBottom), &QwtScaleWidget::scaleDivChanged, this,
            &HistoryPlot::timeScaleChanged);
}

void HistoryPlot::timeScaleChanged()
{
    if (!m_settingRange)
        emit timeRangeMoved(timeRange());
}

void HistoryPlot::setTimeRange(const QwtInterval& range)
{
    if (range == timeRange())
        return;
    m_settingRange = true;
    setAxisScale(QwtPlot::xBottom, range.minValue(), range.maxValue());
    replot();
    m_settingRange = false;
}

void HistoryPlot::zoomTime(double at, double factor)
{
    const double t = canvasMap(QwtPlot::xBottom).invTransform(at);
    const QwtInterval range = timeRange();
    setAxisScale(QwtPlot::xBottom, t - (t - range.minValue()) * factor, t + (range.maxValue() - t) * factor);
    replot();
}

bool HistoryPlot::eventFilter(QObject* object, QEvent* event)
{
    if (object == canvas() && event->type() == QEvent::Wheel) {
        const auto* wheel = static_cast<QWheelEvent*>(event);
        zoomTime(wheel->position().x(), std::pow(0.8, wheel->angleDelta().y() / 120.0));
        return true;
    }
    return QwtPlot::eventFilter(object, event);
}

QString HistoryPlot::noDataText()
{
    return tr("Нет данных за выбранный период");
}

bool HistoryPlot::isNoDataShown() const
{
    return m_noData->isVisible();
}

void HistoryPlot::showPlot(const HistoryPlotModel::Plot& plot, qint64 from, qint64 to)
{
    const bool wasAuto = autoReplot();
    setAutoReplot(false);
    detachItems(QwtPlotItem::Rtti_PlotCurve, true);
    detachItems(QwtPlotItem::Rtti_PlotIntervalCurve, true);

    double z = 1.0;
    for (const HistoryPlotModel::Band& b : plot.bands) {
        auto* item = new RunBand(b);
        item->setZ(z++);
        item->attach(this);
    }
    z = 20.0;
    for (const HistoryPlotModel::Curve& c : plot.curves) {
        auto* item = new RunCurve(c);
        // The group's mean and the battery itself lie over the rest.
        item->setZ(c.width > 1 ? 40.0 : z);
        z += 0.01;
        item->attach(this);
    }
    m_noData->setVisible(!plot.hasData());
    m_settingRange = true;
    setAxisScale(QwtPlot::xBottom, double(from), double(to));
    setAxisAutoScale(QwtPlot::yLeft, true);
    setAutoReplot(wasAuto);
    replot();
    m_zoomer->setZoomBase(false);
    m_settingRange = false;
}
