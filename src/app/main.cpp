#include "mainwin/form1.h"

#include <QApplication>

#include <unistd.h>

int main(int argc, char** argv) {
    // The web views' renderer refuses to start as root unless its sandbox is off.
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandbox");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    Form1 window;
    window.show();
    return app.exec();
}
