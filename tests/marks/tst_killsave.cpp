#include "files.h"
#include "marks/markfile.h"

#include <QtTest>

#include <cstdio>

// The same program is the saving child: with KILLSAVE_WRITER_FILE set it saves two large
// watch lists in turn, without end, and reports every completed save on standard output.

namespace {

using testing::fileBytes;

const char* const kWriterVariable = "KILLSAVE_WRITER_FILE";
constexpr int kMarks = 6000;

// Two lists of the same length that differ in every mark.
QString listA() {
    QString s;
    for (int i = 0; i < kMarks; ++i)
        s += QString::number(1000 + i) + QLatin1Char(',');
    return s;
}

QString listB() {
    QString s;
    for (int i = 0; i < kMarks; ++i)
        s += QString::number(9999 - i) + QLatin1Char(',');
    return s;
}

int runWriter(const QString& path) {
    const QString lists[2] = {listB(), listA()};
    for (unsigned n = 0;; ++n) {
        if (marks::writeMarkLine(path, lists[n % 2])) {
            std::fputs("saved\n", stdout);
            std::fflush(stdout);
        }
    }
}

} // namespace

class TestKillSave : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void killedSaveKeepsAWholeFile() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("MARK.csv"));
        const QByteArray a = listA().toLatin1() + "\r\n";
        const QByteArray b = listB().toLatin1() + "\r\n";
        QVERIFY(marks::writeMarkLine(path, listA()));

        constexpr int kKills = 30;
        int sawA = 0;
        int sawB = 0;
        for (int round = 0; round < kKills; ++round) {
            QProcess writer;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QLatin1String(kWriterVariable), path);
            writer.setProcessEnvironment(env);
            writer.start(QCoreApplication::applicationFilePath(), QStringList());
            QVERIFY2(writer.waitForStarted(), qPrintable(writer.errorString()));

            // Let the child get some saves done (a varying number), then kill it after a varying
            // short pause, so the kill falls at many different points of a save.
            const int savesFirst = 1 + round % 4;
            int saves = 0;
            while (saves < savesFirst && writer.state() == QProcess::Running) {
                if (writer.waitForReadyRead(5000))
                    saves += writer.readAllStandardOutput().count("saved");
                else
                    break;
            }
            QVERIFY2(saves >= savesFirst, "the writer did not save");
            QTest::qWait((round * 7) % 11);
            writer.kill(); // SIGKILL: no clean-up in the child
            QVERIFY(writer.waitForFinished(10000));

            const QByteArray now = fileBytes(path);
            QVERIFY2(now == a || now == b,
                     qPrintable(QStringLiteral("round %1: %2 bytes, neither list whole")
                                    .arg(round)
                                    .arg(now.size())));
            (now == a ? sawA : sawB)++;
        }
        // Both contents turned up, so the kills did land between different saves.
        QVERIFY(sawA > 0);
        QVERIFY(sawB > 0);
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsSet(kWriterVariable))
        return runWriter(qEnvironmentVariable(kWriterVariable));
    QCoreApplication app(argc, argv);
    TestKillSave test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_killsave.moc"
