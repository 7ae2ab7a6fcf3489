#pragma once

#include <QImage>
#include <QWidget>

// Pixels of a widget, as drawn, near the given colour: text in that colour leaves many.
inline int pixelsNear(QWidget* widget, const QColor& colour)
{
    const QImage image = widget->grab().toImage();
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            const int d = qAbs(c.red() - colour.red()) + qAbs(c.green() - colour.green());
            count += d + qAbs(c.blue() - colour.blue()) < 60;
        }
    return count;
}
