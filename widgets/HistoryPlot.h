#pragma once

#include "widgets/HistoryPlotModel.h"

#include <qwt_plot.h>

class QwtPlotTextLabel;

// One history plot (voltage or temperature) over time: the bands under, the curves over,
// each curve broken where its data is, and a word when there is nothing to show.
class HistoryPlot : public QwtPlot
{
    Q_OBJECT
public:
    HistoryPlot(const QString& valueTitle, QWidget* parent = nullptr);

    void showPlot(const HistoryPlotModel::Plot& plot, qint64 from, qint64 to);
    bool isNoDataShown() const;
    static QString noDataText();

private:
    QwtPlotTextLabel* m_noData = nullptr;
};
