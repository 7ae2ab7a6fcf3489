#pragma once

class QString;

// What shows a battery group's caption (the group's button on the main window).
class GroupCaptionView
{
public:
    virtual ~GroupCaptionView() = default;
    virtual void showCaption(const QString& caption) = 0;
};
