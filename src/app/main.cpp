#include "mainwin/form1.h"
#include "mainwin/viewercontext.h"
#include "platform/terminationsignals.h"

#include <QApplication>
#include <QDialog>

#include <unistd.h>

namespace {

// A modal dialog's own loop would otherwise hold the ending until someone answers it, and a
// desktop that logs out answers nothing.
void closeModalDialogs() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!widget->isVisible() || !widget->isModal())
            continue;
        if (auto* dialog = qobject_cast<QDialog*>(widget))
            dialog->reject();
        else
            widget->close();
    }
}

} // namespace

int main(int argc, char** argv) {
    // The web views' renderer refuses to start as root unless its sandbox is off.
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandbox");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    // Desktops match the window to its menu entry by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.quorvix.Quorvix"));

    // Before the window: a signal during start-up waits for the event loop instead of ending
    // the program with its portal half started.
    platform::TerminationSignals terminationSignals;

    ViewerContext context;
    context.startPortal = true;
    Form1 window(context);
    // Ended by a signal, the program closes the way the close button closes it: settings and
    // marks saved, its portal stopped; whatever dialog is open goes, and nothing new is asked.
    // exit() rather than quit(): it also ends the loop of a dialog the signal arrived in, and
    // one opened after it returns at once.
    QObject::connect(&terminationSignals, &platform::TerminationSignals::received, &window,
                     [&window] {
                         closeModalDialogs();
                         window.endOnSignal();
                         QCoreApplication::exit(0);
                     });
    window.show();
    return app.exec();
}
