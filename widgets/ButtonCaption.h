#pragma once

#include "core/GroupCaptionView.h"

#include <QAbstractButton>
#include <QPointer>

// Shows a group's caption as the text of its button on the main window.
class ButtonCaption : public GroupCaptionView
{
public:
    explicit ButtonCaption(QAbstractButton* button) : m_button(button) {}
    void showCaption(const QString& caption) override
    {
        if (m_button)
            m_button->setText(caption);
    }

private:
    QPointer<QAbstractButton> m_button;
};
