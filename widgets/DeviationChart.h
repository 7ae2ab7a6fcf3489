#pragma once

#include <QWidget>

class Battery;
class BatteryGroup;
class QLabel;
class QPainter;
struct AlarmThresholds;

// What the voltage and the temperature deviation charts have in common: one thin bar per
// group member around a zero line at y 90, threshold lines above and below it, and the
// width the chart needs for its bars, asked of the container while painting.
class DeviationChart : public QWidget
{
    Q_OBJECT
public:
    void setGroup(BatteryGroup* group) { m_group = group; }
    void setThresholds(AlarmThresholds* thresholds) { m_thresholds = thresholds; }
    void setRunning(bool running);

    BatteryGroup* group() const { return m_group; }
    AlarmThresholds* thresholds() const { return m_thresholds; }
    bool isRunning() const { return m_running; }
    // The minimum width the chart was built with; the container's later limits leave it.
    int baseMinimumWidth() const { return m_minimumWidth; }

    // Bar width and the right end of the lines for a group of the given size.
    struct BarLayout
    {
        int barWidth;
        int contentWidth;
    };
    static BarLayout barLayout(int batteryCount, int minimumWidth);
    // The font of the mean, the threshold labels and the bar numbers.
    QFont textFont() const;

    static constexpr int zeroLineY = 90;
    static constexpr int emergencyOffset = 50;
    static constexpr int maxBarLength = 75;

signals:
    void needParentWidthResize(int width);

protected:
    DeviationChart(const char* objectName, QWidget* parent);
    // The caption's box was sized for a narrow system font; keeps its text whole.
    static void fitCaption(QLabel* caption);

    // The thresholds a chart draws against: magnitudes above and below the mean.
    struct Scale
    {
        double upEmergency;
        double downEmergency;
        double upWarning;
        double downWarning;
    };
    virtual Scale scaleOf(const AlarmThresholds& thresholds) const = 0;
    virtual double readingOf(const Battery& battery) const = 0;
    virtual int stateOf(const Battery& battery) const = 0;
    // Recomputes the group's mean (which also refreshes its caption).
    virtual double meanOf(BatteryGroup& group) const = 0;
    virtual const char* meanFormat() const = 0;

    void paintEvent(QPaintEvent* event) override;

private:
    int drawChart(QPainter& painter, const QPen& textPen);

    BatteryGroup* m_group = nullptr;
    AlarmThresholds* m_thresholds = nullptr;
    bool m_running = false;
    int m_minimumWidth = 0;
};
