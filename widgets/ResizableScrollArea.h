#pragma once

#include <QScrollArea>
#include <QVector>

class DerivContainerWidget;
class GroupContainerWidget;
class QLayout;

// The scroll area of the deviations page. It keeps the widest width any group's charts
// asked for, widens its content to it (a horizontal scroll bar appears when that does not
// fit) and reports its own resizes so the content can size its trailing spacer.
class ResizableScrollArea : public QScrollArea
{
    Q_OBJECT
public:
    struct Ui
    {
        QWidget* scrollAreaWidgetContents = nullptr;
    };

    explicit ResizableScrollArea(QWidget* parent = nullptr);
    ~ResizableScrollArea() override;

    void setContentLayout(QLayout* layout);
    void addGroupContainer(GroupContainerWidget* container, int groupNumber);
    void addTrailingSpacer();

    DerivContainerWidget* contentWidget() const { return m_content; }
    QLayout* contentLayout() const { return m_contentLayout; }
    const QVector<int>& groupWidths() const { return m_groupWidths; }
    int baseWidth() const { return m_baseWidth; }

signals:
    void resized(QSize new_size);

protected:
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void handleChildResizeNeed(int width, int group_id);

private:
    Ui* ui;
    DerivContainerWidget* m_content = nullptr;
    QLayout* m_contentLayout = nullptr;
    QVector<int> m_groupWidths;
    int m_baseWidth = 0;
};
