// What the main frame needs of the application object: its settings, the
// printer, help, the recent files and the file open under way. The
// application implements it, so the frame does not include the application.
#pragma once

#include <QString>

#include <functional>

#include "framework/ui/CommandTarget.h"

class QSettings;
class QsciPrinter;

namespace quorrel {

// The last stop of the command route.
class CFrameApp : public CommandTarget {
public:
    virtual QSettings& Settings() = 0;
    virtual QsciPrinter& Printer() = 0;
    virtual void OnHelpTopics() = 0;
    virtual void AddRecentFile(const QString& path) = 0;
    virtual bool IsOpening() const = 0;
    virtual void OpenDocumentFileInBackground(const QString& path,
                                              std::function<void(bool opened)> done = {}) = 0;
};

}  // namespace quorrel
