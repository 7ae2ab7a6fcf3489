#include "widgets/DerivContainerWidget.h"

#include "widgets/ResizableScrollArea.h"

#include <QLayout>
#include <QPaintEvent>
#include <QPainter>
#include <QSpacerItem>
#include <QStyleOption>

DerivContainerWidget::DerivContainerWidget(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("DerivContainerWidget"));
    setWindowTitle(QStringLiteral("Form"));
    resize(400, 300);
}

void DerivContainerWidget::setContentLayout(QLayout* layout)
{
    if (m_layout || !layout)
        return;
    setLayout(layout);
    m_layout = layout;
}

void DerivContainerWidget::addContainer(QWidget* widget)
{
    if (!m_layout || !widget)
        return;
    m_layout->addWidget(widget);
    m_lastWidget = widget;
}

void DerivContainerWidget::addTrailingSpacer()
{
    if (m_spacer || !m_layout)
        return;
    m_spacer = new QSpacerItem(50, 0, QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_layout->addItem(m_spacer);
}

void DerivContainerWidget::watchResizes(ResizableScrollArea* source)
{
    if (m_resizeSource || !source)
        return;
    m_resizeSource = source;
    connect(source, SIGNAL(resized(QSize)), this, SLOT(setSpacerSize(QSize)));
}

void DerivContainerWidget::setSpacerSize(QSize size)
{
    if (!m_spacer || !m_lastWidget)
        return;
    const int height = qMax(0, size.height() - m_lastWidget->height());
    m_spacer->changeSize(m_spacer->geometry().width(), height, QSizePolicy::Minimum, QSizePolicy::Minimum);
    m_layout->invalidate();
}

QSize DerivContainerWidget::minimumSizeHint() const
{
    // The height is always the containers' own, also before any chart has painted and asked
    // for a width: the page can be scrolled to a group from its very first showing.
    return QSize(m_minimumWidth, QWidget::minimumSizeHint().height());
}

void DerivContainerWidget::setMinimumWidthHint(int width)
{
    m_minimumWidth = width;
    // Lets the scroll area fit the content again, also when its own width stays.
    updateGeometry();
}

void DerivContainerWidget::paintEvent(QPaintEvent* event)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    painter.setClipRect(event->rect(), Qt::ReplaceClip);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}
