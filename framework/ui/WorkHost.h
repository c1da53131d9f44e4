// What the background runner needs of the window it works for: where its
// busy bar goes, the message pane, the commands' enabling and the text that
// must stand still while a job runs.
#pragma once

#include <QString>

class QMainWindow;

namespace quorrel {

class WorkHost {
public:
    virtual ~WorkHost() = default;
    virtual QMainWindow& HostWindow() = 0;
    virtual void ShowWorkUnderWay(const QString& what) = 0;
    virtual void EndWorkUnderWay() = 0;
    virtual void UpdateCommandUI() = 0;
    // Makes the document text read-only or writable again; returns whether it was read-only.
    virtual bool SetTextReadOnly(bool readOnly) = 0;
};

}  // namespace quorrel
