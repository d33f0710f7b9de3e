#include "files.h"
#include "messages.h"
#include "platform/portalstarter.h"
#include "platform/transfer.h"
#include "table.h"
#include "testsupport.h"
#include "unprivileged.h"

#include <QtTest>

#include <QImage>
#include <QProcess>
#include <QScopeGuard>
#include <QXmlStreamReader>

#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kAppId = QStringLiteral("org.quorvix.Quorvix");

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run run(const QString& program, const QStringList& arguments, int timeoutMs = 300000,
        const QString& workingDirectory = QString()) {
    QProcess p;
    p.setWorkingDirectory(workingDirectory);
    p.start(program, arguments);
    Run r;
    if (!p.waitForStarted(30000)) {
        r.err = p.errorString();
        return r;
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        r.err = QStringLiteral("timed out");
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// Runs xdotool against the display; its standard output, trimmed.
QString xdotool(const QString& display, const QStringList& arguments) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("xdotool"), arguments);
    if (!p.waitForFinished(20000))
        return QString();
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

bool fileContains(const QString& path, const QByteArray& text) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) && f.readAll().contains(text);
}

QString buildFolder() {
    return QFileInfo(testing::binFolder()).absolutePath();
}

// The keys of the [Desktop Entry] group, localised keys included ("Name[ja]").
QMap<QString, QString> desktopEntry(const QString& path) {
    QMap<QString, QString> keys;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return keys;
    bool inEntry = false;
    for (const QString& line : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1Char('[')))
            inEntry = line == QLatin1String("[Desktop Entry]");
        else if (inEntry && line.contains(QLatin1Char('=')))
            keys.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1));
    }
    return keys;
}

// Starts an installed program as a user starts it. Permission bits do not stop root, so as root
// it runs as nobody, the user testing::handToChild gives files to.
void startAsUser(QProcess& process, const QString& program, const QStringList& arguments) {
    if (::geteuid() == 0)
        process.start(QStringLiteral("setpriv"),
                      QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                  QStringLiteral("--clear-groups"), QStringLiteral("--"), program} +
                          arguments);
    else
        process.start(program, arguments);
}

// The commands the README's "### Real prices" section gives an installed user to run: its first
// ```sh block, word for word. The usage lines there sit in a plain ``` block and are not run.
QString readmeRealPricesScript() {
    const QString readme = QString::fromUtf8(
        testing::fileBytes(QStringLiteral(QUORVIX_SOURCE_DIR) + QStringLiteral("/README.md")));
    bool inSection = false;
    bool inFence = false;
    bool inScript = false;
    QStringList script;
    for (const QString& line : readme.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("```"))) {
            if (inScript)
                return script.join(QLatin1Char('\n')) + QLatin1Char('\n');
            inScript = !inFence && inSection && line.trimmed() == QLatin1String("```sh");
            inFence = !inFence;
        } else if (inScript) {
            script << line;
        } else if (!inFence && line.startsWith(QLatin1Char('#'))) {
            if (inSection)
                break;
            inSection = line == QLatin1String("### Real prices");
        }
    }
    return QString();
}

// The file names a script hands to "quote-portal import".
QStringList importedFiles(const QString& script) {
    QStringList files;
    for (const QString& line : script.split(QLatin1Char('\n'))) {
        const QStringList words = line.simplified().split(QLatin1Char(' '));
        const int at = words.indexOf(QStringLiteral("import"));
        if (at < 1 || words[at - 1] != QLatin1String("quote-portal"))
            continue;
        for (const QString& word : words.mid(at + 1))
            if (word.endsWith(QLatin1String(".csv")))
                files << word;
    }
    return files;
}

} // namespace

class TestInstall : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_prefix.isValid());
        const Run r = run(QStringLiteral("cmake"), {QStringLiteral("--install"), buildFolder(),
                                                    QStringLiteral("--prefix"), m_prefix.path()});
        QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
    }

    void layout_data() {
        testing::columns<QString, bool>({"path", "executable"});

        QTest::newRow("viewer") << "lib/quorvix/quorvix" << true;
        QTest::newRow("portal") << "lib/quorvix/quote-portal" << true;
        QTest::newRow("code list") << "lib/quorvix/銘柄コード一覧20060513.csv" << false;
        QTest::newRow("server configuration") << "lib/quorvix/servers.ini" << false;
        QTest::newRow("icon beside the program") << "lib/quorvix/quorvix.svg" << false;
        QTest::newRow("desktop entry") << "share/applications/" + kAppId + ".desktop" << false;
        QTest::newRow("metainfo") << "share/metainfo/" + kAppId + ".metainfo.xml" << false;
        QTest::newRow("scalable icon")
            << "share/icons/hicolor/scalable/apps/" + kAppId + ".svg" << false;
        QTest::newRow("copyright") << "share/doc/quorvix/copyright" << false;
        QTest::newRow("viewer command") << "bin/quorvix" << true;
        QTest::newRow("portal command") << "bin/quote-portal" << true;
        QTest::newRow("viewer man page") << "share/man/man1/quorvix.1.gz" << false;
        QTest::newRow("portal man page") << "share/man/man1/quote-portal.1.gz" << false;
    }

    void layout() {
        QFETCH(QString, path);
        QFETCH(bool, executable);

        const QFileInfo file(installed(path));
        QVERIFY2(file.isFile(), qPrintable(file.filePath()));
        QVERIFY(file.size() > 0);
        QCOMPARE(file.isExecutable(), executable);
        // The program folder holds nothing that would make it a place for the user's files.
        QVERIFY(!QFileInfo::exists(installed(QStringLiteral("lib/quorvix/MARK.csv"))));
    }

    void command_data() {
        testing::columns<QString, QString>({"command", "program"});
        QTest::newRow("viewer") << "bin/quorvix"
                                << "lib/quorvix/quorvix";
        QTest::newRow("portal") << "bin/quote-portal"
                                << "lib/quorvix/quote-portal";
    }

    void command() {
        QFETCH(QString, command);
        QFETCH(QString, program);

        const QFileInfo link(installed(command));
        QVERIFY(link.isSymLink());
        // Relative, so the whole prefix can move.
        char target[4096] = {};
        QVERIFY(::readlink(QFile::encodeName(link.filePath()).constData(), target,
                           sizeof target - 1) > 0);
        QCOMPARE(QFile::decodeName(target), QStringLiteral("../") + program);
        QCOMPARE(link.canonicalFilePath(), QFileInfo(installed(program)).canonicalFilePath());
        QVERIFY(link.isExecutable());
    }

    void manPage_data() {
        testing::columns<QString, QStringList>({"page", "words"});
        QTest::newRow("viewer") << "quorvix.1.gz"
                                << QStringList{"quote-portal", "prices.sqlite", "MARK.csv"};
        QTest::newRow("portal") << "quote-portal.1.gz"
                                << QStringList{"\\-\\-listen",  "import",        "export",
                                               "refresh",       "prices.sqlite", "quote-portal.ini",
                                               "XDG_DATA_HOME", "EXIT STATUS"};
    }

    void manPage() {
        QFETCH(QString, page);
        QFETCH(QStringList, words);

        const Run r = run(QStringLiteral("gzip"),
                          {QStringLiteral("-dc"), installed("share/man/man1/" + page)});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(r.out.startsWith(QLatin1String(".TH ")));
        for (const QString& word : words)
            QVERIFY2(r.out.contains(word), qPrintable(word));
    }

    void desktopEntry() {
        const QString path = installed("share/applications/" + kAppId + ".desktop");
        const QMap<QString, QString> keys = ::desktopEntry(path);
        QCOMPARE(keys.value(QStringLiteral("Type")), QStringLiteral("Application"));
        QCOMPARE(keys.value(QStringLiteral("Name")), QStringLiteral("Quorvix Chart Viewer"));
        QVERIFY(!keys.value(QStringLiteral("Name[ja]")).isEmpty());
        QVERIFY(keys.value(QStringLiteral("Comment[ja]")).contains(QStringLiteral("チャート")));
        QCOMPARE(keys.value(QStringLiteral("Icon")), kAppId);
        QCOMPARE(keys.value(QStringLiteral("Categories")), QStringLiteral("Office;Finance;"));
        // Exec names the installed command of this prefix, which starts the viewer.
        QCOMPARE(keys.value(QStringLiteral("Exec")), installed(QStringLiteral("bin/quorvix")));

        const Run r = run(QStringLiteral("desktop-file-validate"), {path});
        QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
        QCOMPARE(r.out + r.err, QString());
    }

    void icons_data() {
        QTest::addColumn<int>("size");
        for (int size : {16, 32, 48, 128, 256})
            QTest::addRow("%d", size) << size;
    }

    void icons() {
        QFETCH(int, size);
        const QString path = installed(
            QStringLiteral("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(kAppId));
        const QImage image(path);
        QVERIFY2(!image.isNull(), qPrintable(path));
        QCOMPARE(image.size(), QSize(size, size));
        // A picture, not an empty square: the background and at least the candles' colours.
        QSet<QRgb> colours;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                colours.insert(image.pixel(x, y));
        QVERIFY(colours.size() >= 4);
    }

    void metainfo() {
        const QString path = installed("share/metainfo/" + kAppId + ".metainfo.xml");
        // The checks over the network only try the addresses the file names, and it names none
        // (below): the validation offline is the whole validation.
        const Run r = run(QStringLiteral("appstreamcli"),
                          {QStringLiteral("validate"), QStringLiteral("--no-net"), path});
        QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));

        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&f);
        QString jaSummary, licence, launchable;
        QStringList addresses;
        while (!xml.atEnd()) {
            const QXmlStreamReader::TokenType token = xml.readNext();
            if (token == QXmlStreamReader::Characters && xml.text().contains(QLatin1String("://")))
                addresses << xml.text().toString().trimmed();
            if (token != QXmlStreamReader::StartElement)
                continue;
            const QString lang = xml.attributes().value(QStringLiteral("xml:lang")).toString();
            if (xml.name() == QLatin1String("url") || xml.name() == QLatin1String("screenshots"))
                addresses << xml.name().toString();
            else if (xml.name() == QLatin1String("summary") && lang == QLatin1String("ja"))
                jaSummary = xml.readElementText();
            else if (xml.name() == QLatin1String("project_license"))
                licence = xml.readElementText();
            else if (xml.name() == QLatin1String("launchable"))
                launchable = xml.readElementText();
        }
        QVERIFY(!xml.hasError());
        QVERIFY(jaSummary.contains(QStringLiteral("チャート")));
        QVERIFY(!licence.isEmpty());
        QCOMPARE(launchable, kAppId + QStringLiteral(".desktop"));
        // No home page and no screenshot until the project has an address of its own for them:
        // an invented one fails every check that follows it.
        QVERIFY2(addresses.isEmpty(), qPrintable(addresses.join(QLatin1Char(' '))));
    }

    void package() {
        QTemporaryDir out;
        QVERIFY(out.isValid());
        const Run built =
            run(QStringLiteral("cpack"),
                {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"), out.path(),
                 QStringLiteral("--config"), buildFolder() + QStringLiteral("/CPackConfig.cmake")},
                600000, out.path());
        QVERIFY2(built.exitCode == 0, qPrintable(built.out + built.err));
        const QStringList debs = QDir(out.path()).entryList({QStringLiteral("*.deb")});
        QCOMPARE(debs.size(), 1);
        const QString deb = out.filePath(debs.first());

        const Run contents = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), deb});
        QCOMPARE(contents.exitCode, 0);
        for (const QString& path :
             {QStringLiteral("./usr/lib/quorvix/quorvix"),
              QStringLiteral("./usr/lib/quorvix/quote-portal"),
              QStringLiteral("./usr/lib/quorvix/servers.ini"),
              QStringLiteral("./usr/lib/quorvix/銘柄コード一覧20060513.csv"),
              QStringLiteral("./usr/bin/quorvix -> ../lib/quorvix/quorvix"),
              QStringLiteral("./usr/bin/quote-portal -> ../lib/quorvix/quote-portal"),
              QStringLiteral("./usr/share/man/man1/quorvix.1.gz"),
              QStringLiteral("./usr/share/man/man1/quote-portal.1.gz"),
              "./usr/share/applications/" + kAppId + ".desktop",
              "./usr/share/metainfo/" + kAppId + ".metainfo.xml",
              "./usr/share/icons/hicolor/48x48/apps/" + kAppId + ".png",
              QStringLiteral("./usr/share/doc/quorvix/copyright")})
            QVERIFY2(contents.out.contains(path),
                     qPrintable(path + QLatin1Char('\n') + contents.out));
        // The menu entry of the package starts the packaged command.
        QVERIFY(!contents.out.contains(m_prefix.path()));

        const Run depends =
            run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), deb, QStringLiteral("Depends")});
        QCOMPARE(depends.exitCode, 0);
        for (const char* package : {"libc6", "libqt6core6", "libqt6gui6", "libqt6widgets6",
                                    "libqt6network6", "libqt6webenginewidgets6",
                                    "libqt6httpserver6", "libcurl4", "libgif7", "libsqlite3-0"})
            QVERIFY2(depends.out.contains(QLatin1String(package)),
                     qPrintable(QLatin1String(package) + QLatin1Char('\n') + depends.out));

        const Run lint =
            run(QStringLiteral("lintian"), {QStringLiteral("--no-tag-display-limit"), deb}, 600000);
        QVERIFY2(lint.exitCode >= 0, qPrintable(lint.err));
        QStringList errors;
        for (const QString& line : (lint.out + lint.err).split(QLatin1Char('\n')))
            if (line.startsWith(QLatin1String("E: ")))
                errors << line;
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
        // The warnings are printed for the record.
        qInfo().noquote() << lint.out;
    }

    void readmeRealPrices() {
        // The README's commands as an installed user types them: quote-portal from the PATH, no
        // --data, a program folder the user cannot write to, a data folder of the user's own.
        const QString script = readmeRealPricesScript();
        QVERIFY2(script.contains(QLatin1String("quote-portal import")), qPrintable(script));
        // The example shows where prices go by default.
        QVERIFY2(!script.contains(QLatin1String("--data")), qPrintable(script));
        const QStringList files = importedFiles(script);
        QCOMPARE(files.size(), 1);
        const QString code = QFileInfo(files.first()).fileName().section(QLatin1Char('.'), 0, 0);
        QVERIFY2(QRegularExpression(QStringLiteral("^[0-9][0-9A-Z][0-9][0-9A-Z]$"))
                     .match(code)
                     .hasMatch(),
                 qPrintable(files.first()));

        QTemporaryDir home;
        QVERIFY(home.isValid());
        const QString dataHome = home.filePath(QStringLiteral("data"));
        const QString work = home.filePath(QStringLiteral("work"));
        QVERIFY(QDir().mkpath(dataHome) && QDir().mkpath(work));
        // The daily file the README names, in the portal's own layout; its last day is long
        // past, so a page drawn from it cannot be mistaken for an invented history.
        QVERIFY(testing::writeBytes(QDir(work).filePath(files.first()),
                                    "Date,Open,High,Low,Close,Volume\n"
                                    "2025-03-03,2650,2700,2630,2690,21000000\n"
                                    "2025-03-04,2690,2720,2655,2661,19500000\n"
                                    "2025-03-05,2661,2698,2640,2695,18700000\n"
                                    "2025-03-06,2695,2760,2690,2748,23100000\n"
                                    "2025-03-07,2748,2751,2702,2713,20400000\n"));
        for (const QString& path :
             {home.path(), dataHome, work, QDir(work).filePath(files.first())})
            QVERIFY(testing::handToChild(path));

        const QString program = installed(QStringLiteral("lib/quorvix"));
        const auto programEntries = [&program] {
            return QDir(program).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                           QDir::NoDotAndDotDot);
        };
        const QStringList shipped = programEntries();
        QCOMPARE(::chmod(QFile::encodeName(m_prefix.path()).constData(), 0755), 0);
        QCOMPARE(::chmod(QFile::encodeName(program).constData(), 0555), 0);
        const auto writable =
            qScopeGuard([&program] { ::chmod(QFile::encodeName(program).constData(), 0755); });

        QProcess shell;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PATH"), installed(QStringLiteral("bin")) + QLatin1Char(':') +
                                               env.value(QStringLiteral("PATH")));
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
        env.remove(QStringLiteral("XDG_CONFIG_HOME"));
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        shell.setProcessEnvironment(env);
        shell.setWorkingDirectory(work);
        shell.setProcessChannelMode(QProcess::MergedChannels);
        startAsUser(shell, QStringLiteral("sh"),
                    {QStringLiteral("-e"), QStringLiteral("-c"), script});
        QVERIFY2(shell.waitForFinished(120000), qPrintable(shell.errorString()));
        const QString output = QString::fromLocal8Bit(shell.readAll());
        QVERIFY2(shell.exitStatus() == QProcess::NormalExit && shell.exitCode() == 0,
                 qPrintable(script + QStringLiteral("----\n") + output));

        // The prices went where the viewer looks for them, and nothing into the program folder.
        const QString data = dataHome + QStringLiteral("/quorvix");
        QVERIFY2(QFileInfo(data + QStringLiteral("/prices.sqlite")).isFile(),
                 qPrintable(QDir(data)
                                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
                                .join(QLatin1Char(' '))));
        QCOMPARE(programEntries(), shipped);

        // The viewer shows them: its portal, started the way the viewer starts it (the viewer's
        // own starter, which also lays the shipped code list into the data folder), draws the
        // code's summary page from the imported days, with no sample mark.
        platform::PortalStarter starter(installed(QStringLiteral("lib/quorvix/quote-portal")),
                                        data);
        const QString base = testing::deadBase();
        QSignalSpy outcomes(&starter, &platform::PortalStarter::finished);
        starter.start(base);
        QVERIFY(outcomes.wait(60000));
        const auto started = outcomes.first().first().value<platform::PortalStarter::Result>();
        QVERIFY2(started.outcome == platform::PortalStarter::Outcome::Started,
                 qPrintable(started.message));
        platform::Transfer transfer;
        const platform::FetchResult summary =
            transfer.fetch(base + QStringLiteral("/bin/gw?word=") + code);
        QVERIFY(summary.answered());
        const QString page = QString::fromUtf8(summary.body);
        QVERIFY2(page.contains(QStringLiteral("(%1)").arg(code)), qPrintable(page));
        // The imported prices, and the day of their last close.
        QVERIFY2(page.contains(QStringLiteral("取込 2025/03/07")), qPrintable(page));
        QVERIFY2(!page.contains(QStringLiteral("サンプルデータ")), qPrintable(page));
    }

    void installedViewer() {
        // The installed program as a user starts it: a program folder the user cannot write to, a
        // data folder of the user's own, no portal running, a real X server. Permission bits do
        // not stop root, so as root the viewer runs as nobody.
        // Under AddressSanitizer the installed viewer with its web engine does not come up within
        // the test's time under Xvfb; the run as a user is checked in the normal build.
        if (qEnvironmentVariableIsSet("ASAN_OPTIONS"))
            QSKIP("the installed viewer is run in the normal build");
        const bool root = ::geteuid() == 0;
        const uid_t user = root ? 65534 : ::geteuid();
        const gid_t group = root ? 65534 : ::getegid();
        QTemporaryDir home;
        QVERIFY(home.isValid());
        const QString data = home.filePath(QStringLiteral("data"));
        QVERIFY(QDir().mkpath(data) && QDir().mkpath(home.filePath(QStringLiteral("config"))));
        for (const QString& dir : {home.path(), data, home.filePath(QStringLiteral("config"))})
            QCOMPARE(::chown(QFile::encodeName(dir).constData(), user, group), 0);
        QCOMPARE(::chmod(QFile::encodeName(m_prefix.path()).constData(), 0755), 0);

        const QString program = installed(QStringLiteral("lib/quorvix"));
        const QString base = testing::deadBase();
        QVERIFY(testing::writeBytes(program + QStringLiteral("/servers.ini"),
                                    testing::serversIni(base, false)));
        QCOMPARE(::chmod(QFile::encodeName(program).constData(), 0555), 0);

        QProcess xserver;
        xserver.start(QStringLiteral("Xvfb"),
                      {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                       QStringLiteral("0"), QStringLiteral("1400x900x24"),
                       QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-ac")});
        QVERIFY2(xserver.waitForStarted(30000), qPrintable(xserver.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(xserver.canReadLine() || (xserver.waitForReadyRead(100), false),
                                 30000);
        const QString display =
            QLatin1Char(':') + QString::fromLatin1(xserver.readLine()).trimmed();

        QProcess viewer;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_DATA_HOME"), data);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        viewer.setProcessEnvironment(env);
        viewer.setProcessChannelMode(QProcess::ForwardedChannels);
        startAsUser(viewer, installed(QStringLiteral("bin/quorvix")), {});
        QVERIFY(viewer.waitForStarted(30000));

        // The window, its caption naming the mark file in the user's data folder, created there.
        QString window;
        QTRY_VERIFY_WITH_TIMEOUT(
            !(window = xdotool(display, {QStringLiteral("search"), QStringLiteral("--name"),
                                         testing::kCaptionPrefix})
                           .section(QLatin1Char('\n'), 0, 0))
                 .isEmpty(),
            120000);
        const QString markFile = data + QStringLiteral("/quorvix/MARK.csv");
        QCOMPARE(xdotool(display, {QStringLiteral("getwindowname"), window}),
                 testing::kCaptionPrefix + markFile);
        QVERIFY(QFileInfo(data + QStringLiteral("/quorvix")).isDir());
        // Nothing listened at the chart server's address: the viewer starts its portal there,
        // from the event loop once the window is up.
        QTRY_VERIFY_WITH_TIMEOUT(testing::portalAnswers(base), 60000);

        // Enter in the code box ("4674" on a first start), then マーク設定 once the display is
        // done.
        xdotool(display, {QStringLiteral("mousemove"), QStringLiteral("--window"), window,
                          QStringLiteral("112"), QStringLiteral("19"), QStringLiteral("click"),
                          QStringLiteral("1"), QStringLiteral("key"), QStringLiteral("Return")});
        QTRY_VERIFY_WITH_TIMEOUT(
            (xdotool(display, {QStringLiteral("mousemove"), QStringLiteral("--window"), window,
                               QStringLiteral("56"), QStringLiteral("80"), QStringLiteral("click"),
                               QStringLiteral("1")}),
             fileContains(markFile, "4674,")),
            120000);
        QVERIFY(QFileInfo::exists(data + QStringLiteral("/quorvix/temp2.html")) ||
                !QDir(data + QStringLiteral("/quorvix"))
                     .entryList({QStringLiteral("*.gif")})
                     .isEmpty());

        // Ended as a session ends it: the window closes and saves, the portal goes with it.
        QCOMPARE(::kill(pid_t(viewer.processId()), SIGTERM), 0);
        QVERIFY(viewer.waitForFinished(60000));
        QCOMPARE(viewer.exitStatus(), QProcess::NormalExit);
        QCOMPARE(viewer.exitCode(), 0);
        QVERIFY(fileContains(markFile, "4674,"));
        QVERIFY(!QFileInfo::exists(program + QStringLiteral("/MARK.csv")));
        QTRY_VERIFY_WITH_TIMEOUT(!testing::portalAnswers(base), 30000);

        xserver.terminate();
        xserver.waitForFinished(10000);
        ::chmod(QFile::encodeName(program).constData(), 0755);
    }

private:
    QTemporaryDir m_prefix;
    QString installed(const QString& relative) const { return m_prefix.filePath(relative); }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
