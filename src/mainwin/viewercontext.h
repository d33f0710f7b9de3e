#pragma once

#include "platform/transfer.h"

#include <QString>

#include <functional>
#include <optional>

class QWidget;

// What a window is handed from outside, each with a real default, so that a test can build a
// whole window in a temporary folder against a portal on an ephemeral port.
struct ViewerContext {
    // The folder of the program: mark file, code list, temporary files. Default: the folder of
    // the executable.
    QString programFolder;
    // The folder for the user's own files: the mark file, the temporary chart and page files,
    // the portal's price data. Default: the program folder when the user can write to it, else
    // the user's data folder (base::userDataFolder).
    QString dataFolder;
    // Start the quote-portal beside the program when the chart server is a loopback address
    // that nothing listens on, and stop it with the window. The program turns it on; windows
    // built by tests leave it off unless a test asks for it.
    bool startPortal = false;
    // The settings file. Empty: the user's own file.
    QString settingsFile;
    // The server configuration. Empty: programFolder + "/servers.ini".
    QString serversFile;
    platform::Transfer::Options transfer;

    // The open-file dialog of the mark-file switch: returns the chosen path, or nullopt on
    // Cancel. Default: a QFileDialog with the given title, filter and file name.
    using ChooseFile = std::function<std::optional<QString>(
        QWidget* parent, const QString& title, const QString& filter, const QString& fileName)>;
    ChooseFile chooseFile;

    // The defaults filled in where nothing was handed in.
    ViewerContext resolved() const;
};
