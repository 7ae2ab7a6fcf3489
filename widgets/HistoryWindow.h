#pragma once

#include "core/AlarmThresholds.h"
#include "history/HistoryCsv.h"
#include "widgets/HistoryPlotModel.h"
#include "widgets/HistorySpanBar.h"
#include "widgets/HistoryTarget.h"

#include <QWidget>
#include <functional>
#include <memory>

class HistoryPlot;
class HistoryQuery;
class QLabel;
class QPushButton;
class QTimer;
class QwtInterval;

// The history of one battery against its group, or of a whole group, read from the history
// file over a chosen span: a voltage and a temperature plot, and the shown figures saved as
// a table. A window of its own that deletes itself when closed. It opens on the shortest
// preset span that holds all there is, and while "Сейчас" is on follows the new readings.
class HistoryWindow : public QWidget
{
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;
    // Asks where to save; an empty answer means the user changed their mind.
    using FileChooser = std::function<QString(QWidget* parent, const QString& suggested)>;
    using ErrorReporter = std::function<void(QWidget* parent, const QString& title, const QString& text)>;

    HistoryWindow(const QString& databasePath, const HistoryTarget& target, const AlarmThresholds& thresholds,
                  QWidget* parent = nullptr);
    ~HistoryWindow() override;

    void setClock(Clock clock);
    void setFileChooser(FileChooser chooser) { m_chooser = std::move(chooser); }
    void setErrorReporter(ErrorReporter reporter) { m_reporter = std::move(reporter); }

    // A preset span ending now, or a stretch chosen by hand.
    void showSpan(HistorySpan span);
    void showPeriod(const QDateTime& from, const QDateTime& to);

    const HistoryTarget& target() const { return m_target; }
    const HistoryPlotModel& model() const { return m_model; }
    // The shown figures as table columns: voltages, then temperatures, the group's mean last.
    QVector<HistoryCsvColumn> csvColumns() const;

    HistorySpanBar* spanBar() const { return m_spanBar; }
    HistoryPlot* voltagePlot() const { return m_voltagePlot; }
    HistoryPlot* temperaturePlot() const { return m_temperaturePlot; }
    QPushButton* exportButton() const { return m_export; }
    QLabel* statusLabel() const { return m_status; }
    QTimer* followTimer() const { return m_follow; }
    // Sizes and places the window within a screen's free area (as it opens, the screen's own).
    void fitInto(const QRect& area);
    // The preset span the window opens on: the shortest that holds all the history there is.
    HistorySpan firstSpan();

    static QString groupMeanName();
    static QString warningName();
    static QString emergencyName();

public slots:
    // Asks for a file and saves the shown figures in it; says so when it cannot.
    bool exportCsv();
    // Shows the preset span ending now again, while "Сейчас" is on.
    void follow();

signals:
    // The plots show a new stretch.
    void loaded();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void load(qint64 from, qint64 to);
    void timeMoved(HistoryPlot* other, const QwtInterval& range);
    void buildPlots(const QVector<HistorySeries>& members, const HistorySeries& mean, qint64 step);
    QString suggestedFileName() const;
    static QString resolutionText(HistoryResolution resolution);

    const QString m_path;
    const HistoryTarget m_target;
    const AlarmThresholds m_thresholds;
    Clock m_clock;
    FileChooser m_chooser;
    ErrorReporter m_reporter;
    std::unique_ptr<HistoryQuery> m_query;
    bool m_loadedOnce = false;

    HistoryPlotModel m_model;
    QVector<HistorySeries> m_members; // as read, in the target's member order
    HistorySeries m_mean;

    HistorySpanBar* m_spanBar = nullptr;
    HistoryPlot* m_voltagePlot = nullptr;
    HistoryPlot* m_temperaturePlot = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_export = nullptr;
    QTimer* m_follow = nullptr;
};
