#include "widgets/ResizableScrollArea.h"

#include "widgets/DerivContainerWidget.h"
#include "widgets/GroupContainerWidget.h"

#include <QResizeEvent>

#include <algorithm>

ResizableScrollArea::ResizableScrollArea(QWidget* parent) : QScrollArea(parent), ui(new Ui)
{
    setObjectName(QStringLiteral("ResizableScrollArea"));
    setWidgetResizable(true);
    resize(400, 300);
    ui->scrollAreaWidgetContents = new QWidget();
    ui->scrollAreaWidgetContents->setObjectName(QStringLiteral("scrollAreaWidgetContents"));
    ui->scrollAreaWidgetContents->setGeometry(QRect(0, 0, 398, 298));
    setWidget(ui->scrollAreaWidgetContents);
    setWindowTitle(QStringLiteral("ScrollArea"));
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    m_content = new DerivContainerWidget();
    m_content->setStyleSheet(QStringLiteral("background-color: rgb(255, 255, 255)"));
    m_contentLayout = nullptr;
}

ResizableScrollArea::~ResizableScrollArea()
{
    // Until it becomes the scroll area's widget nothing else owns the content.
    if (m_content && widget() != m_content)
        delete m_content;
    delete ui;
}

void ResizableScrollArea::setContentLayout(QLayout* layout)
{
    m_contentLayout = layout;
    m_content->setContentLayout(layout);
    setWidget(m_content);
    m_content->watchResizes(this);
    repaint();
    m_baseWidth = width();
}

void ResizableScrollArea::addGroupContainer(GroupContainerWidget* container, int groupNumber)
{
    if (!container)
        return;
    m_content->addContainer(container);
    if (groupNumber >= 0) {
        if (m_groupWidths.size() < groupNumber + 1)
            m_groupWidths.resize(groupNumber + 1);
        m_groupWidths[groupNumber] = container->width();
    }
    connect(container, SIGNAL(needResize(int, int)), this, SLOT(handleChildResizeNeed(int, int)));
}

void ResizableScrollArea::addTrailingSpacer()
{
    if (m_contentLayout)
        m_content->addTrailingSpacer();
}

void ResizableScrollArea::handleChildResizeNeed(int width, int group_id)
{
    if (group_id < 0 || group_id >= m_groupWidths.size())
        return;
    if (m_groupWidths[group_id] == width)
        return;
    m_groupWidths[group_id] = width;
    const int widest = std::max(0, *std::max_element(m_groupWidths.cbegin(), m_groupWidths.cend()));
    if (this->width() == widest)
        return;
    const int wanted = std::max(m_baseWidth, widest);
    resize(wanted, height());
    m_content->setMinimumWidthHint(wanted);
    updateGeometry();
}

void ResizableScrollArea::resizeEvent(QResizeEvent* event)
{
    // A scroll area gets its viewport's resizes here: the size is that of the visible part.
    QScrollArea::resizeEvent(event);
    emit resized(event->size());
}
