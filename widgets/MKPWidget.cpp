#include "widgets/MKPWidget.h"

#include "config/ProgramMode.h"
#include "config/Settings.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "core/DecimalComma.h"
#include "core/StateCode.h"

#include <QLabel>
#include <QMovie>
#include <QPaintEvent>
#include <QPainter>
#include <QStyleOption>

QImage MKPWidget::s_grey;
QImage MKPWidget::s_green;
QImage MKPWidget::s_yellow;
QImage MKPWidget::s_red;
QMovie* MKPWidget::s_redAnimation = nullptr;
QMovie* MKPWidget::s_yellowAnimation = nullptr;

namespace {
const char* kVoltagePlaceholder = "--,-- B";
const char* kTemperaturePlaceholder = "--,- °C";

QLabel* makeLabel(QWidget* parent, const QRect& geometry)
{
    // Fixed in size, a new text asks no layout for room; unfilled, it shows the tile behind it.
    auto* label = new QLabel(parent);
    label->setGeometry(geometry);
    label->setFixedSize(geometry.size());
    label->setAlignment(Qt::AlignCenter);
    return label;
}

// A label repaints only when its text really changes.
void showText(QLabel* label, const QString& text)
{
    if (label->text() != text)
        label->setText(text);
}

QMovie* startAnimation(const QString& path)
{
    auto* movie = new QMovie(path);
    // Six small frames: decode once, then every tile only draws a prepared pixmap.
    movie->setCacheMode(QMovie::CacheAll);
    movie->start();
    return movie;
}
} // namespace

MKPWidget::MKPWidget(QWidget* parent) : QWidget(parent), ui(new Ui)
{
    setObjectName(QStringLiteral("MKPWidget"));
    setWindowTitle(QStringLiteral("Form"));
    resize(80, 60);
    setAutoFillBackground(true);

    ui->lb_voltage = makeLabel(this, QRect(0, 15, 80, 20));
    ui->lb_voltage->setObjectName(QStringLiteral("lb_voltage"));
    QFont bold = ui->lb_voltage->font();
    bold.setPointSize(10);
    bold.setWeight(75);
    ui->lb_voltage->setFont(bold);

    ui->lb_temperature = makeLabel(this, QRect(0, 35, 80, 20));
    ui->lb_temperature->setObjectName(QStringLiteral("lb_temperature"));

    ui->lb_mb = makeLabel(this, QRect(10, 5, 60, 10));
    ui->lb_mb->setObjectName(QStringLiteral("lb_mb"));
    ui->lb_mb->setText(tr("-/-"));
    QPalette palette = ui->lb_mb->palette();
    const QBrush clear(QColor(0, 0, 0, 0));
    for (QPalette::ColorGroup cg : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setBrush(cg, QPalette::WindowText,
                         cg == QPalette::Disabled ? QColor(120, 120, 120) : QColor(127, 122, 109));
        palette.setBrush(cg, QPalette::Button, clear);
        palette.setBrush(cg, QPalette::Base, clear);
        palette.setBrush(cg, QPalette::Window, clear);
    }
    ui->lb_mb->setPalette(palette);

    showBattery(nullptr, Change::All);
    setFixedSize(80, 65);
    followMode();
    if (s_redAnimation)
        connect(s_redAnimation, &QMovie::frameChanged, this, &MKPWidget::animationFrameChanged);
}

MKPWidget::~MKPWidget()
{
    delete ui;
}

void MKPWidget::loadImages()
{
    if (s_redAnimation)
        return;
    // The pictures live in the program's static library; make sure they are registered.
    Q_INIT_RESOURCE(resources);
    // Converted once to the format the painter blends fastest.
    const auto prepared = [](const char* path) {
        return QImage(QString::fromLatin1(path)).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    };
    s_grey = prepared(":/new/prefix1/Batt_gray.png");
    s_green = prepared(":/new/prefix1/Batt_green.png");
    s_yellow = prepared(":/new/prefix1/Batt_yellow.png");
    s_red = prepared(":/new/prefix1/Batt_red.png");
    s_redAnimation = startAnimation(QStringLiteral(":/new/prefix1/Batt_red_gif.gif"));
    s_yellowAnimation = startAnimation(QStringLiteral(":/new/prefix1/Batt_yellow_gif.gif"));
}

void MKPWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    QWidget::mouseDoubleClickEvent(event);
    emit historyRequested();
}

void MKPWidget::showBattery(const Battery* battery, Change change)
{
    m_battery = battery;
    // Without data the numbers give way to dashes; a new battery shows what it holds.
    const bool none = !battery || battery->state() == StateCode::None;
    const bool whole = change == Change::All || change == Change::State;
    if (change == Change::Temperature || (change == Change::All && !none))
        showText(ui->lb_temperature, decimalComma("%3.1f", battery->temperature()) + tr(" °C"));
    else if (whole && none)
        showText(ui->lb_temperature, tr(kTemperaturePlaceholder));
    if (change == Change::Voltage || (change == Change::All && !none))
        showText(ui->lb_voltage, decimalComma("%4.2f", battery->voltage()) + tr(" B"));
    else if (whole && none)
        showText(ui->lb_voltage, tr(kVoltagePlaceholder));
    // Queued, not immediate: a sweep changes up to 128 tiles, and one paint pass takes them all.
    // A picture that stays repaints nothing: the tile and its labels would all be drawn again.
    if (currentPicture() != m_shownPicture)
        update();
}

void MKPWidget::setBatteryNumber(int n)
{
    m_batteryNumber = n;
}

void MKPWidget::setHighlighted(bool on)
{
    if (on == m_highlighted)
        return;
    m_highlighted = on;
    QPalette dimmed;
    if (!on)
        dimmed.setColor(QPalette::Window, QColor(165, 165, 165));
    setPalette(dimmed); // highlighted: the grid's own background again
    update();
}

void MKPWidget::setHideIfUngrouped(bool hide)
{
    m_hideIfUngrouped = hide;
    update();
}

void MKPWidget::setCommLoss(bool lost, bool confirmed)
{
    if (lost == m_commLost && confirmed == m_commLossConfirmed)
        return;
    m_commLost = lost;
    m_commLossConfirmed = confirmed;
    update();
}

bool MKPWidget::event(QEvent* event)
{
    // Built when asked for, from the group's means of the last sweep, not at every reading.
    if (event->type() == QEvent::ToolTip)
        updateToolTip();
    return QWidget::event(event);
}

void MKPWidget::updateToolTip()
{
    if (!m_battery || !m_battery->thresholds())
        return;
    const BatteryGroup* group = m_battery->group();
    const QString groupLine =
        group ? QStringLiteral("Группа: ") + QString::number(group->number()) : tr("Группа: Нет группы");
    const QString msdLine =
        QStringLiteral("МСД:МКП - %1:%2").arg(m_battery->msdIndex()).arg(m_battery->mkpIndex());
    QString voltLine = QStringLiteral("Напр. откл.: ");
    QString tempLine = QStringLiteral("Темп. откл.: ");
    if (m_battery->state() == StateCode::None || isUngrouped()) {
        voltLine += QLatin1String(kVoltagePlaceholder);
        tempLine += QString::fromUtf8(kTemperaturePlaceholder);
    } else {
        voltLine += decimalComma("%4.2f", m_battery->voltage() - group->meanVoltage()) + QStringLiteral(" B");
        tempLine += decimalComma("%3.1f", m_battery->temperature() - group->meanTemperature()) +
                    QStringLiteral(" °C");
    }

    if (!modbusMode) {
        setToolTip(QStringList{groupLine, msdLine, voltLine, tempLine}.join(QLatin1Char('\n')));
        return;
    }
    if (!group)
        return;
    const int number = group->number();
    if (number == 0) {
        setToolTip(QStringLiteral("Без группы\n-\n") + voltLine + QLatin1Char('\n') + tempLine);
    } else if (number < 1 || number > 6) {
        setToolTip(QStringList{groupLine, QStringLiteral("-"), voltLine, tempLine}.join(QLatin1Char('\n')));
    } else {
        const int address = m_settings ? m_settings->modbusAddressField(number) : -1;
        const QString addressLine =
            QStringLiteral("адрес=") + (address < 0 ? QStringLiteral("-") : QString::number(address));
        const QString batteryLine =
            QStringLiteral("№ батареи=") + (m_batteryNumber >= 0 && m_batteryNumber <= 128
                                                ? QString::number(m_batteryNumber)
                                                : QStringLiteral("-"));
        setToolTip(
            QStringList{groupLine, addressLine, batteryLine, voltLine, tempLine}.join(QLatin1Char('\n')));
    }
}

void MKPWidget::followMode()
{
    ui->lb_mb->setVisible(modbusMode);
}

bool MKPWidget::isUngrouped() const
{
    return !m_battery || !m_battery->group() || m_battery->group()->number() == 0;
}

MKPWidget::Picture MKPWidget::currentPicture() const
{
    if (isUngrouped()) {
        if (m_hideIfUngrouped)
            return Picture::None;
        return m_battery && m_battery->state() != StateCode::None ? Picture::Green : Picture::Grey;
    }
    if (m_commLost)
        return m_commLossConfirmed ? Picture::NoLink : Picture::NoLinkAnimation;
    const bool confirmed = m_battery->isConfirmed();
    switch (m_battery->state()) {
    case StateCode::None:
        return Picture::Grey;
    case StateCode::Normal:
        return Picture::Green;
    case StateCode::Warning:
        return confirmed ? Picture::Yellow : Picture::YellowAnimation;
    case StateCode::Emergency:
        return confirmed ? Picture::Red : Picture::RedAnimation;
    default:
        return Picture::None;
    }
}

void MKPWidget::animationFrameChanged()
{
    // Only a pulsing picture changes with the frame; other tiles keep what they drew.
    const Picture picture = currentPicture();
    if ((picture == Picture::RedAnimation || picture == Picture::YellowAnimation ||
         picture == Picture::NoLinkAnimation) &&
        isVisible())
        update();
}

void MKPWidget::paintNoLink(QPainter& painter, const QPoint& at)
{
    painter.drawImage(at, s_grey);
    // A blue frame, unlike any alarm colour: the battery is not judged, its link is gone.
    // Unconfirmed, it fades in and out with the alarm animation's frames.
    int alpha = 255;
    if (currentPicture() == Picture::NoLinkAnimation && s_redAnimation) {
        const int frames = qMax(1, s_redAnimation->frameCount());
        alpha = s_redAnimation->currentFrameNumber() * 2 < frames ? 255 : 70;
    }
    QPen pen(QColor(30, 80, 220, alpha));
    pen.setWidth(4);
    painter.save();
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(2, 2, -2, -2));
    painter.drawLine(QPoint(8, 8), QPoint(20, 20));
    painter.drawLine(QPoint(20, 8), QPoint(8, 20));
    painter.restore();
}

void MKPWidget::paintEvent(QPaintEvent* event)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    painter.setClipRect(event->rect(), Qt::ReplaceClip);
    m_shownPicture = currentPicture();

    if (isUngrouped() && m_hideIfUngrouped) {
        ui->lb_temperature->hide();
        ui->lb_voltage->hide();
        painter.fillRect(rect(), Qt::transparent);
    } else {
        ui->lb_temperature->show();
        ui->lb_voltage->show();
        style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
        if (!m_highlighted)
            painter.setOpacity(0.4);
        const QPoint at(5, 0);
        switch (m_shownPicture) {
        case Picture::Grey:
            painter.drawImage(at, s_grey);
            break;
        case Picture::Green:
            painter.drawImage(at, s_green);
            break;
        case Picture::Yellow:
            painter.drawImage(at, s_yellow);
            break;
        case Picture::Red:
            painter.drawImage(at, s_red);
            break;
        case Picture::YellowAnimation:
            if (s_yellowAnimation)
                painter.drawPixmap(at, s_yellowAnimation->currentPixmap());
            break;
        case Picture::RedAnimation:
            if (s_redAnimation)
                painter.drawPixmap(at, s_redAnimation->currentPixmap());
            break;
        case Picture::NoLink:
        case Picture::NoLinkAnimation:
            paintNoLink(painter, at);
            break;
        case Picture::None:
            break;
        }
        if (!m_highlighted)
            painter.setOpacity(1.0);
    }
    followMode();
}
