#pragma once

#include "widgets/DeviationChart.h"

class QLabel;

// Temperature deviation of each group member from the group's mean temperature. One
// threshold pair serves both directions.
class MKPGroupTemp : public DeviationChart
{
    Q_OBJECT
public:
    struct Ui
    {
        QLabel* label_2 = nullptr;
    };

    explicit MKPGroupTemp(QWidget* parent = nullptr);
    ~MKPGroupTemp() override;

    QLabel* captionLabel() const { return ui->label_2; }

protected:
    Scale scaleOf(const AlarmThresholds& thresholds) const override;
    double readingOf(const Battery& battery) const override;
    int stateOf(const Battery& battery) const override;
    double meanOf(BatteryGroup& group) const override;
    const char* meanFormat() const override { return "%3.1f"; }

private:
    Ui* ui;
};
