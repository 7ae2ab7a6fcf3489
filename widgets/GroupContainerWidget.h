#pragma once

#include <QWidget>

class BatteryGroup;
class MKPGroupTemp;
class MKPGroupVolt;
class QHBoxLayout;
class QLabel;
class QSpacerItem;
class QVBoxLayout;
struct AlarmThresholds;

// One group on the deviations page: its title and its voltage and temperature charts. Passes
// the charts' width wishes on, tagged with the group number, only when the width changed.
class GroupContainerWidget : public QWidget
{
    Q_OBJECT
public:
    struct Ui
    {
        QVBoxLayout* verticalLayout_2 = nullptr;
        QVBoxLayout* verticalLayout = nullptr;
        QHBoxLayout* horizontalLayout_2 = nullptr;
        QSpacerItem* horizontalSpacer = nullptr;
        QLabel* lb_group_number = nullptr;
        MKPGroupVolt* mkp_group_volt_widget = nullptr;
        MKPGroupTemp* mkp_group_temp_widget = nullptr;
    };

    explicit GroupContainerWidget(QWidget* parent = nullptr);
    ~GroupContainerWidget() override;

    void setTitle(const QString& title);
    void setGroup(BatteryGroup* group);
    void setThresholds(AlarmThresholds* thresholds);
    void setRunning(bool running);
    // Repaints both charts now; called after every arrival of measured data.
    void repaintCharts();

    BatteryGroup* group() const { return m_group; }
    int lastWidth() const { return m_lastWidth; }
    QLabel* titleLabel() const { return ui->lb_group_number; }
    MKPGroupVolt* voltChart() const { return ui->mkp_group_volt_widget; }
    MKPGroupTemp* tempChart() const { return ui->mkp_group_temp_widget; }

signals:
    void needResize(int width, int groupNumber);

private slots:
    void handleChildResize(int width);

private:
    Ui* ui;
    int m_lastWidth = 0;
    BatteryGroup* m_group = nullptr;
};
