#pragma once

#include <QObject>

class QLabel;
class QStatusBar;

// Texts of the status bar from sources other than the Modbus exchange. Each source has a
// label and a colour of its own, so that no source recolours another's text; an empty
// text hides the source's label.
class StatusNotices : public QObject
{
    Q_OBJECT
public:
    enum Source
    {
        Sound,
        Journal,
        History,
        CommLoss,
        Mqtt,
        ModbusTcp,
        Mail,
        SourceCount
    };

    // Adds the labels to the bar as permanent widgets, after those already there.
    explicit StatusNotices(QStatusBar* bar);

    void show(Source source, const QString& text);
    QLabel* label(Source source) const { return labels[source]; }

private:
    QLabel* labels[SourceCount] = {};
};
