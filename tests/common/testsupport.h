#pragma once

#include "mainwin/viewercontext.h"
#include "server/portalserver.h"

#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

class Form1;

namespace testing {

// The folder the build made for the program (code list, servers.ini).
QString binFolder();

// A loopback port that nobody listens on (taken from a listening socket that is closed again),
// and a base address on it: every transfer there is refused.
quint16 closedPort();
QString deadBase();

// A portal at base answers a request (the support page) within a few seconds.
bool portalAnswers(const QString& base);

// A servers.ini that points every role at base, and the support page at base/support/ unless
// told not to (the program then uses its own default).
QByteArray serversIni(const QString& base, bool supportPage = true);

// The stand-in portal on an ephemeral loopback port, serving the shipped code list.
class TestPortal {
public:
    TestPortal();
    portal::PortalServer& server() { return m_server; }
    const portal::PortalServer& server() const { return m_server; }
    QString base() const { return m_server.baseUrl(); }
    bool started() const { return m_started; }
    // Transfers seen since the last clearLog(), as "path?query" texts.
    QStringList targets() const;
    void clearLog() { m_server.clearLog(); }
    // Listens anew, on another port, with no faults and an empty log: what a window of an
    // earlier test case still had on the way never reaches the log. Take base() again after it.
    bool restart();
    // The first listed code served under the given suffix (".t", ".o", ...).
    QString codeUnder(const QString& suffix) const;

private:
    portal::PortalServer m_server;
    bool m_started = false;
};

// Faults that hold every answer of the portal back by delayMs, and nothing else.
inline portal::Faults slowBy(int delayMs) {
    portal::Faults faults;
    faults.delayMs = delayMs;
    return faults;
}

// A window on the context, shown on the screen as a user meets it.
std::unique_ptr<Form1> shownWindow(const ViewerContext& context);
// The same for a start that tells something once the window is up (a mark file that cannot be
// read): the messages are answered and their texts put in told.
std::unique_ptr<Form1> shownWindowTelling(const ViewerContext& context, QStringList* told);

// A program folder in a temporary directory: the code list, a servers.ini pointing every role
// at base, and a settings file of its own.
class ProgramFolder {
public:
    explicit ProgramFolder(const QString& portalBase);
    QString path() const { return m_dir.path(); }
    QString file(const QString& name) const { return m_dir.filePath(name); }
    QString settingsFile() const { return file(QStringLiteral("settings.ini")); }
    ViewerContext context() const;
    // Writes a value into the settings file before a window is built.
    void setSetting(const QString& section, const QString& key, const QString& value);
    void writeFile(const QString& name, const QByteArray& bytes);
    QByteArray readFile(const QString& name) const;
    // Several settings at once, each as ("SECTION/KEY", text).
    void setSettings(const QList<QPair<QString, QString>>& settings);
    std::unique_ptr<Form1> openWindow() const;
    // The window shown on the screen, as a user meets it.
    std::unique_ptr<Form1> openShownWindow() const;

private:
    QTemporaryDir m_dir;
};

// Answers the message boxes that appear while it lives: records their text and presses OK.
class MessageCatcher : public QObject {
public:
    struct Seen {
        QString title;
        QString text;
        int buttons = 0;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
    };

    MessageCatcher();
    QStringList texts() const;
    const QList<Seen>& seen() const { return m_seen; }
    // Runs while a box is open, before OK is pressed: a look at the window from inside the box.
    void onMessage(std::function<void()> look) { m_look = std::move(look); }

private:
    void poll();
    QTimer m_timer;
    QList<Seen> m_seen;
    std::function<void()> m_look;
};

// What a test program with windows sets before its QApplication exists: the web views' flags
// for running as root, the shared GL contexts they want, and the offscreen platform, optionally
// with a configuration file (screens and their sizes, as JSON).
void prepareWindowTests(const QString& offscreenConfigFile = QString());

// The main of every test program with windows.
template <typename TestClass>
int runWindowTests(int argc, char** argv, const QString& offscreenConfigFile = QString()) {
    prepareWindowTests(offscreenConfigFile);
    QApplication app(argc, argv);
    TestClass test;
    return QTest::qExec(&test, argc, argv);
}

// Runs action once on the event loop while the next search runs (and, when given, once ready()
// holds), then stops.
void whenSearching(Form1& window, std::function<void()> action, std::function<bool()> ready = {});

} // namespace testing

#define QUORVIX_WINDOW_TEST_MAIN(TestClass)                                                        \
    int main(int argc, char** argv) {                                                              \
        return testing::runWindowTests<TestClass>(argc, argv);                                     \
    }
