#include "app/StatusNotices.h"

#include <QLabel>
#include <QStatusBar>

StatusNotices::StatusNotices(QStatusBar* bar) : QObject(bar)
{
    struct Look
    {
        const char* name;
        const char* style;
    };
    // Trouble with the alarm sound or the journal is as urgent as a silent device.
    const Look looks[SourceCount] = {{"soundStatusLabel", "color: red"},
                                     {"journalStatusLabel", "color: red"},
                                     {"historyStatusLabel", "color: rgb(160, 80, 0)"},
                                     {"commLossStatusLabel", "color: red"},
                                     {"mqttStatusLabel", "color: rgb(160, 80, 0)"},
                                     {"modbusTcpStatusLabel", "color: rgb(160, 80, 0)"},
                                     {"mailStatusLabel", "color: rgb(160, 80, 0)"}};
    for (int s = 0; s < SourceCount; ++s) {
        labels[s] = new QLabel(bar);
        labels[s]->setObjectName(QLatin1String(looks[s].name));
        labels[s]->setStyleSheet(QLatin1String(looks[s].style));
        labels[s]->hide();
        bar->addPermanentWidget(labels[s]);
    }
}

void StatusNotices::show(Source source, const QString& text)
{
    labels[source]->setText(text);
    labels[source]->setVisible(!text.isEmpty());
}
