#include "viewercontext.h"

#include "base/datafolder.h"
#include "desktop/guifiledialog.h"

#include <QCoreApplication>

ViewerContext ViewerContext::resolved() const {
    ViewerContext c = *this;
    if (c.programFolder.isEmpty())
        c.programFolder = QCoreApplication::applicationDirPath();
    if (c.dataFolder.isEmpty())
        c.dataFolder = base::userDataFolder(c.programFolder);
    if (c.serversFile.isEmpty())
        c.serversFile = c.programFolder + QLatin1String("/servers.ini");
    if (!c.chooseFile)
        c.chooseFile = &platform::chooseOpenFile;
    return c;
}
