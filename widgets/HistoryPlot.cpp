#include "widgets/HistoryPlot.h"

#include <QPainter>
#include <qwt_date_scale_draw.h>
#include <qwt_date_scale_engine.h>
#include <qwt_legend.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_intervalcurve.h>
#include <qwt_plot_textlabel.h>
#include <qwt_scale_map.h>

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

// A filled band between two edges, likewise run by run.
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

protected:
    void drawSeries(QPainter* painter, const QwtScaleMap& xMap, const QwtScaleMap& yMap,
                    const QRectF& canvasRect, int from, int to) const override
    {
        forEachVisiblePart(m_spans, from, to, int(dataSize()), [&](const Span&, int a, int b) {
            QwtPlotIntervalCurve::drawSeries(painter, xMap, yMap, canvasRect, a, b);
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
    auto* legend = new QwtLegend;
    legend->setMaxColumns(1);
    insertLegend(legend, QwtPlot::RightLegend);

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
    setAxisScale(QwtPlot::xBottom, double(from), double(to));
    setAxisAutoScale(QwtPlot::yLeft, true);
    setAutoReplot(wasAuto);
    replot();
}
