#pragma once

#include "core/BatteryView.h"

#include <QImage>
#include <QWidget>

class QLabel;
class QMovie;
class QPainter;
class BatteryGroup;
class Settings;
struct AlarmThresholds;

// The tile of one battery: voltage, temperature, a picture coloured by the alarm state
// (pulsing while unconfirmed) and, in Modbus mode, the battery's address in its group.
class MKPWidget : public QWidget, public BatteryView
{
    Q_OBJECT
public:
    struct Ui
    {
        QLabel* lb_voltage = nullptr;
        QLabel* lb_temperature = nullptr;
        QLabel* lb_mb = nullptr;
    };

    explicit MKPWidget(QWidget* parent = nullptr);
    ~MKPWidget() override;

    // Loads the shared pictures and starts both animations; once, before the first tile.
    static void loadImages();
    static QMovie* redAnimation() { return s_redAnimation; }
    static QMovie* yellowAnimation() { return s_yellowAnimation; }

    void showBattery(const Battery* battery, Change change) override;
    void setBatteryNumber(int n) override;
    void setHighlighted(bool on) override;
    void setHideIfUngrouped(bool hide) override;
    // Pulses until `confirmed`.
    void setCommLoss(bool lost, bool confirmed) override;
    bool isCommLost() const { return m_commLost; }
    // Where the tool tip finds the group's Modbus address.
    void setSettingsRecord(const Settings* record) { m_settings = record; }
    void updateToolTip();
    // Shows the address label exactly in Modbus mode.
    void followMode() override;

    bool isHighlighted() const { return m_highlighted; }
    int batteryNumber() const { return m_batteryNumber; }
    QLabel* addressLabel() const { return ui->lb_mb; }
    QLabel* voltageLabel() const { return ui->lb_voltage; }
    QLabel* temperatureLabel() const { return ui->lb_temperature; }

    enum class Picture
    {
        None,
        Grey,
        Green,
        Yellow,
        Red,
        YellowAnimation,
        RedAnimation,
        NoLink,
        NoLinkAnimation
    };
    // Which picture the next paint draws; Hidden tiles draw none.
    Picture currentPicture() const;

signals:
    // The operator asked for this battery's history.
    void historyRequested();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private slots:
    void animationFrameChanged();

private:
    bool isUngrouped() const;
    void paintNoLink(QPainter& painter, const QPoint& at);

    Ui* ui;
    bool m_highlighted = true;
    int m_batteryNumber = 0;
    const Settings* m_settings = nullptr;
    const Battery* m_battery = nullptr; // the battery shown; its values and state are read from it
    Picture m_shownPicture = Picture::None;
    bool m_hideIfUngrouped = false;
    bool m_commLost = false;
    bool m_commLossConfirmed = false;

    static QImage s_grey;
    static QImage s_green;
    static QImage s_yellow;
    static QImage s_red;
    static QMovie* s_redAnimation;
    static QMovie* s_yellowAnimation;
};
