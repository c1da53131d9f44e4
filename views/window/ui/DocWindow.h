// The main window as the document's commands and the panels see it: its two
// panes, the runner of long work, the active pane and the title. The main
// frame implements it; nothing below the application includes the frame.
#pragma once

#include "framework/ui/WorkHost.h"

class QWidget;

namespace quorrel {

class CBackgroundWork;
class CClassView;
class CDView;

class CDocWindow : public WorkHost {
public:
    virtual CDView* SourceView() const = 0;
    virtual CClassView* TreeView() const = 0;
    virtual CBackgroundWork& Work() const = 0;
    // A job, a file being opened or a fetch is under way.
    virtual bool IsBusy() const = 0;
    virtual QWidget* ActiveView() const = 0;
    virtual void SetActivePane(QWidget* view) = 0;
    virtual void UpdateTitle() = 0;
};

}  // namespace quorrel
