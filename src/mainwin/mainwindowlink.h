#pragma once

#include "mainwin/viewercontext.h"

#include <QString>

class QWidget;

namespace settings {
class SettingsStore;
} // namespace settings

// What the settings dialog may ask of the main window, and read from it: four operations, each
// applying the main window's own rules (the busy state included), the settings store, the default
// mark file and the file chooser. The dialog knows the main window through this alone.
class MainWindowLink {
public:
    virtual ~MainWindowLink() = default;

    // Makes path the mark file in use with markLine as its marks.
    virtual void adoptMarkFile(const QString& path, const QString& markLine) = 0;
    // Back to the default mark file, read again.
    virtual void fallBackToDefaultMarkFile() = 0;
    // Two panes or four; the detail browser of the other arrangement is hidden.
    virtual void setFourPanes(bool fourPanes) = 0;
    // Hides both detail browsers (the detail page was switched off).
    virtual void hideDetailBrowsers() = 0;

    virtual settings::SettingsStore& store() = 0;
    virtual QString defaultMarkFile() const = 0;
    virtual const ViewerContext::ChooseFile& chooseFile() const = 0;
    // The main window itself, the dialog's parent.
    virtual QWidget* mainWindow() = 0;
};
