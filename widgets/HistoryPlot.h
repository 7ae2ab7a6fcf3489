#pragma once

#include "widgets/HistoryPlotModel.h"

#include <qwt_plot.h>

class QwtPlotTextLabel;
class QwtPlotZoomer;

// One history plot (voltage or temperature) over time: the bands under, the curves over,
// each curve broken where its data is, and a word when there is nothing to show. A
// rectangle drawn with the left button zooms in, the right button or Esc goes back,
// Ctrl with the left button pans the time, the wheel zooms the time about the pointer.
class HistoryPlot : public QwtPlot
{
    Q_OBJECT
public:
    HistoryPlot(const QString& valueTitle, QWidget* parent = nullptr);

    void showPlot(const HistoryPlotModel::Plot& plot, qint64 from, qint64 to);
    bool isNoDataShown() const;
    static QString noDataText();

    QwtInterval timeRange() const { return axisInterval(QwtPlot::xBottom); }
    // Shows another stretch of time, without a word from timeRangeMoved().
    void setTimeRange(const QwtInterval& range);
    // Zooms the time about `at` (canvas pixels): a factor under 1 zooms in.
    void zoomTime(double at, double factor);

    bool eventFilter(QObject* object, QEvent* event) override;

signals:
    // The user zoomed or panned the time.
    void timeRangeMoved(const QwtInterval& range);

private:
    void timeScaleChanged();

    QwtPlotTextLabel* m_noData = nullptr;
    QwtPlotZoomer* m_zoomer = nullptr;
    bool m_settingRange = false;
};
