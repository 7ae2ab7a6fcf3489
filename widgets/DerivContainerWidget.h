#pragma once

#include <QPointer>
#include <QWidget>

class QLayout;
class QSpacerItem;
class ResizableScrollArea;

// The content of the deviations page: the group containers one below the other and a
// trailing spacer tall enough that the last container can be scrolled to the top.
class DerivContainerWidget : public QWidget
{
    Q_OBJECT
public:
    explicit DerivContainerWidget(QWidget* parent = nullptr);

    void setContentLayout(QLayout* layout);
    void addContainer(QWidget* widget);
    void addTrailingSpacer();
    void watchResizes(ResizableScrollArea* source);

    QSize minimumSizeHint() const override;
    // The scroll area widens the content through this hint.
    void setMinimumWidthHint(int width);

    QLayout* contentLayout() const { return m_layout; }
    QSpacerItem* trailingSpacer() const { return m_spacer; }
    QWidget* lastContainer() const { return m_lastWidget; }
    ResizableScrollArea* resizeSource() const { return m_resizeSource; }

protected:
    void paintEvent(QPaintEvent* event) override;

private slots:
    void setSpacerSize(QSize size);

private:
    QSpacerItem* m_spacer = nullptr;
    ResizableScrollArea* m_resizeSource = nullptr;
    QPointer<QWidget> m_lastWidget;
    QLayout* m_layout = nullptr;
    int m_minimumWidth = -1; // none until the scroll area widens the content
};
