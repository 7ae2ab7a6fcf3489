#pragma once

#include "widgets/DeviationChart.h"

class QLabel;

// Voltage deviation of each group member from the group's mean voltage.
class MKPGroupVolt : public DeviationChart
{
    Q_OBJECT
public:
    struct Ui
    {
        QLabel* label = nullptr;
    };

    explicit MKPGroupVolt(QWidget* parent = nullptr);
    ~MKPGroupVolt() override;

    QLabel* captionLabel() const { return ui->label; }

protected:
    Scale scaleOf(const AlarmThresholds& thresholds) const override;
    double readingOf(const Battery& battery) const override;
    int stateOf(const Battery& battery) const override;
    double meanOf(BatteryGroup& group) const override;
    const char* meanFormat() const override { return "%4.2f"; }

private:
    Ui* ui;
};
