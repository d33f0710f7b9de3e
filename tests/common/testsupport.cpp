#include "testsupport.h"

#include "mainwin/form1.h"
#include "marks/codelist.h"
#include "platform/transfer.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStringDecoder>
#include <QTcpServer>
#include <QTest>

namespace testing {

QString binFolder() {
    return QStringLiteral(QUORVIX_BIN_DIR);
}

quint16 closedPort() {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

QString deadBase() {
    return QStringLiteral("http://127.0.0.1:%1").arg(closedPort());
}

bool portalAnswers(const QString& base) {
    platform::Transfer::Options options;
    options.connectTimeoutMs = 1000;
    options.totalTimeoutMs = 3000;
    platform::Transfer transfer(options);
    return transfer.fetch(base + QStringLiteral("/support/")).answered();
}

QByteArray serversIni(const QString& base, bool supportPage) {
    QByteArray ini("[servers]\n");
    for (const char* role : {"technical-chart", "chart-image", "mobile-gateway", "quote",
                             "company-profile", "news", "message-board", "report"})
        ini += QByteArray(role) + '=' + base.toUtf8() + '\n';
    if (supportPage)
        ini += "support-page=" + base.toUtf8() + "/support/\n";
    return ini;
}

TestPortal::TestPortal()
    : m_server(portal::PortalOptions{binFolder(), QDate(2026, 12, 4)}) {
    m_started = m_server.start();
}

bool TestPortal::restart() {
    m_started = m_server.start();
    m_server.setFaults({});
    m_server.clearLog();
    return m_started;
}

QStringList TestPortal::targets() const {
    QStringList out;
    for (const portal::LogEntry& e : m_server.requestLog())
        out << e.target;
    return out;
}

QString TestPortal::codeUnder(const QString& suffix) const {
    for (int code = 1300; code <= 9999; ++code) {
        const QString c = QString::number(code);
        if (m_server.suffixFor(c) == suffix)
            return c;
    }
    return QString();
}

ProgramFolder::ProgramFolder(const QString& portalBase) {
    const QString codeList = QString::fromUtf8(marks::CodeList::kFileName);
    QFile::copy(binFolder() + QLatin1Char('/') + codeList, m_dir.filePath(codeList));
    writeFile(QStringLiteral("servers.ini"), serversIni(portalBase));
}

ViewerContext ProgramFolder::context() const {
    ViewerContext c;
    c.programFolder = path();
    c.settingsFile = settingsFile();
    // Short time-outs keep the fault cases quick; the rules they test do not depend on them.
    c.transfer.connectTimeoutMs = 1000;
    c.transfer.totalTimeoutMs = 1500;
    return c;
}

void ProgramFolder::setSetting(const QString& section, const QString& key, const QString& value) {
    QSettings s(settingsFile(), QSettings::IniFormat);
    s.setValue(section + QLatin1Char('/') + key, value);
}

void ProgramFolder::writeFile(const QString& name, const QByteArray& bytes) {
    QFile f(file(name));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

QByteArray ProgramFolder::readFile(const QString& name) const {
    QFile f(file(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

std::unique_ptr<Form1> ProgramFolder::openWindow() const {
    return std::make_unique<Form1>(context());
}

std::unique_ptr<Form1> shownWindow(const ViewerContext& context) {
    auto window = std::make_unique<Form1>(context);
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        qWarning("window not exposed");
    return window;
}

std::unique_ptr<Form1> shownWindowTelling(const ViewerContext& context, QStringList* told) {
    MessageCatcher catcher;
    auto window = shownWindow(context);
    if (!QTest::qWaitFor([&] { return !catcher.texts().isEmpty(); }, 10000))
        qWarning("nothing told at start");
    *told = catcher.texts();
    return window;
}

std::unique_ptr<Form1> ProgramFolder::openShownWindow() const {
    return shownWindow(context());
}

void ProgramFolder::setSettings(const QList<QPair<QString, QString>>& settings) {
    for (const auto& [key, value] : settings)
        setSetting(key.section(QLatin1Char('/'), 0, 0), key.section(QLatin1Char('/'), 1), value);
}

MessageCatcher::MessageCatcher() {
    connect(&m_timer, &QTimer::timeout, this, &MessageCatcher::poll);
    m_timer.start(20);
}

QStringList MessageCatcher::texts() const {
    QStringList out;
    for (const Seen& s : m_seen)
        out << s.text;
    return out;
}

void MessageCatcher::poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    m_seen.append({box->windowTitle(), box->text(), int(box->buttons().size()), box->icon()});
    if (m_look)
        m_look();
    if (QAbstractButton* ok = box->button(QMessageBox::Ok))
        ok->click();
    else
        box->accept();
}

void prepareWindowTests(const QString& offscreenConfigFile) {
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandbox --disable-gpu");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    const QByteArray platform =
        offscreenConfigFile.isEmpty()
            ? QByteArray("offscreen")
            : QByteArray("offscreen:configfile=") + QFile::encodeName(offscreenConfigFile);
    qputenv("QT_QPA_PLATFORM", platform);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

void whenSearching(Form1& window, std::function<void()> action, std::function<bool()> ready) {
    auto* timer = new QTimer(&window);
    QObject::connect(timer, &QTimer::timeout, &window, [timer, action, ready, &window] {
        if (!window.searching() || (ready && !ready()))
            return;
        timer->stop();
        timer->deleteLater();
        action();
    });
    timer->start(0);
}

} // namespace testing
