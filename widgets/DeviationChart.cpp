#include "widgets/DeviationChart.h"

#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "core/DecimalComma.h"
#include "core/StateCode.h"

#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QStyleOption>

#include <cmath>

namespace {
const QColor kGrey(215, 215, 215);
const QColor kGreen(37, 197, 12);
const QColor kOrange(255, 171, 52);
const QColor kRed(255, 75, 21);

// Truncates toward zero into [low, high]. Thresholds of zero make the ratios infinite or
// undefined; those land on a bound instead of an undefined conversion.
int truncated(double value, int low, int high)
{
    if (std::isnan(value) || value >= high)
        return high;
    if (value <= low)
        return low;
    return static_cast<int>(value);
}

int warningOffset(double warning, double emergency)
{
    return truncated(warning / emergency * DeviationChart::emergencyOffset, -10000, 10000);
}

// Length of a bar for a deviation of the given magnitude: the emergency threshold is 50 pixels.
int barLength(double magnitude, double emergency)
{
    const int scaled =
        truncated(magnitude / emergency * DeviationChart::emergencyOffset, -1, DeviationChart::maxBarLength);
    return qMin(scaled + 1, int(DeviationChart::maxBarLength));
}

bool stateColour(int state, QColor* colour)
{
    switch (state) {
    case StateCode::None:
        *colour = kGrey;
        return true;
    case StateCode::Normal:
        *colour = kGreen;
        return true;
    case StateCode::Warning:
        *colour = kOrange;
        return true;
    case StateCode::Emergency:
        *colour = kRed;
        return true;
    default:
        return false;
    }
}
} // namespace

DeviationChart::DeviationChart(const char* objectName, QWidget* parent) : QWidget(parent)
{
    setObjectName(QString::fromLatin1(objectName));
    setWindowTitle(QStringLiteral("Form"));
    resize(700, 300);
    setMinimumSize(QSize(700, 300));
    setMaximumSize(QSize(16777215, 300));
    m_minimumWidth = minimumSize().width();
}

void DeviationChart::fitCaption(QLabel* caption)
{
    // The box ends left of the first bar; a font too wide for it gets smaller instead.
    QFont font = caption->font();
    for (int size = QFontInfo(font).pixelSize(); size > 8 && caption->sizeHint().width() > caption->width();
         --size) {
        font.setPixelSize(size - 1);
        caption->setFont(font);
    }
}

QFont DeviationChart::textFont() const
{
    // Every number sits in a box 10 pixels high, and a bar slot can be 14 pixels wide:
    // the chart's texts use a font that fits there whatever the application font is.
    QFont small = font();
    small.setPixelSize(10);
    return small;
}

void DeviationChart::setRunning(bool running)
{
    m_running = running;
    update();
}

DeviationChart::BarLayout DeviationChart::barLayout(int batteryCount, int minimumWidth)
{
    const int n = batteryCount;
    int bar = 10;
    if (n > 0) {
        const int w = (minimumWidth - 4 * n) / n;
        if (w > 9)
            bar = qMin(w, 50);
    }
    const int slot = bar + 4;
    // From the hundredth bar on the gaps double, so numbers of three digits fit.
    const int content = n <= 99 ? n * slot : 99 * slot + (n - 99) * (bar + 8);
    return {bar, qMax(content, 0) + 150};
}

void DeviationChart::paintEvent(QPaintEvent* event)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    painter.setClipRect(event->rect(), Qt::ReplaceClip);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    const QPen textPen = painter.pen();
    painter.setPen(QPen(kGrey, 2));
    painter.setFont(textFont());

    const int required = m_thresholds ? drawChart(painter, textPen) : 250;
    painter.end();

    // The container drops repeated wishes; asking on every paint keeps this simple.
    if (width() != required)
        emit needParentWidthResize(qMax(m_minimumWidth, required));
}

int DeviationChart::drawChart(QPainter& painter, const QPen& textPen)
{
    const Scale scale = scaleOf(*m_thresholds);
    const int up = warningOffset(scale.upWarning, scale.upEmergency);
    const int down = warningOffset(scale.downWarning, scale.downEmergency);
    const int y0 = zeroLineY;

    int right = width() - 100;
    int x = 150;
    if (m_group) {
        const int count = m_group->batteryCount();
        const BarLayout layout = barLayout(count, m_minimumWidth);
        right = m_running ? qMax(m_minimumWidth, layout.contentWidth) : qMax(m_minimumWidth, 0);
        painter.drawLine(100, y0, right, y0);

        // One mean for the whole picture: nothing changes while painting.
        const double mean = count > 0 ? meanOf(*m_group) : 0.0;
        if (count > 0) {
            painter.setPen(textPen);
            painter.drawText(QRect(60, 85, 30, 10), Qt::AlignRight | Qt::AlignVCenter,
                             decimalComma(meanFormat(), mean));
        }
        if (count > 0 && m_running) {
            const int bar = layout.barWidth;
            for (int i = 0; i < count; ++i) {
                const Battery* battery = m_group->batteryAt(i);
                if (!battery)
                    continue;
                const int gap = i < 99 ? 2 : 4;
                const int state = stateOf(*battery);
                QColor colour;
                if (!stateColour(state, &colour))
                    continue;
                QRect box(x, 0, bar + 2 * gap, 10);
                if (state == StateCode::None) {
                    painter.fillRect(QRect(x + gap, y0 - 2, bar, 4), colour);
                    box.moveTop(y0 - 2 - 13);
                } else {
                    const double d = readingOf(*battery) - mean;
                    if (d > 0) {
                        const int h = barLength(d, scale.upEmergency);
                        const int top = y0 + 1 - h;
                        painter.fillRect(QRect(x + gap, top, bar, h), colour);
                        box.moveTop(top - 13);
                    } else {
                        const int h = barLength(-d, scale.downEmergency);
                        painter.fillRect(QRect(x + gap, y0 - 1, bar, h), colour);
                        const int bottom = y0 - 1 + h;
                        // Below the bar when it fits in the chart, else just above the zero line.
                        box.moveTop(bottom + 13 <= height() - 1 ? bottom + 3 : 76);
                    }
                }
                painter.setPen(textPen);
                painter.drawText(box, Qt::AlignCenter, QString::number(i + 1));
                x += bar + 2 * gap;
            }
        }
    }

    const QPen warningPen(kOrange, 1);
    const QPen emergencyPen(kRed, 1);
    painter.setPen(warningPen);
    painter.drawLine(100, y0 - up, right, y0 - up);
    painter.drawText(QRect(60, 85 - up, 30, 10), Qt::AlignRight | Qt::AlignVCenter,
                     decimalComma("+%3.1f", scale.upWarning));
    painter.drawLine(100, y0 + down, right, y0 + down);
    painter.drawText(QRect(60, 85 + down, 30, 10), Qt::AlignRight | Qt::AlignVCenter,
                     decimalComma("-%3.1f", scale.downWarning));
    painter.setPen(emergencyPen);
    painter.drawLine(100, y0 - emergencyOffset, right, y0 - emergencyOffset);
    painter.drawText(QRect(100, 27, 30, 10), Qt::AlignLeft | Qt::AlignVCenter,
                     decimalComma("+%3.1f", scale.upEmergency));
    painter.drawLine(100, y0 + emergencyOffset, right, y0 + emergencyOffset);
    painter.drawText(QRect(100, 143, 30, 10), Qt::AlignLeft | Qt::AlignVCenter,
                     decimalComma("-%3.1f", scale.downEmergency));
    return x + 100;
}
