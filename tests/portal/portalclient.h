#pragma once

// A plain HTTP/1.1 client for the portal tests: it sends the request target byte for byte (no URL
// clean-up in between, so hostile targets reach the server as written) and reads one answer.

#include "prices/marketdata.h"
#include "server/portalserver.h"

#include <QByteArray>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>

struct Answer {
    int status = 0; // 0: no answer (connection closed or failed)
    QByteArray contentType;
    QByteArray body;
    bool closed = false; // the server closed the connection
};

// Reads one answer from a connected socket; waits as long as the server keeps the connection.
inline Answer readAnswer(QTcpSocket& socket, int waitMs = 30000) {
    Answer a;
    QByteArray buf;
    for (;;) {
        buf += socket.readAll();
        const int headEnd = buf.indexOf("\r\n\r\n");
        if (headEnd >= 0) {
            const QList<QByteArray> lines = buf.left(headEnd).split('\n');
            qint64 length = -1;
            for (const QByteArray& raw : lines.mid(1)) {
                const QByteArray line = raw.trimmed();
                const int colon = line.indexOf(':');
                const QByteArray name = line.left(colon).trimmed().toLower();
                if (name == "content-length")
                    length = line.mid(colon + 1).trimmed().toLongLong();
                else if (name == "content-type")
                    a.contentType = line.mid(colon + 1).trimmed();
            }
            if (length >= 0 && buf.size() - headEnd - 4 >= length) {
                a.status = lines.value(0).split(' ').value(1).toInt();
                a.body = buf.mid(headEnd + 4, length);
                return a;
            }
        }
        if (socket.state() != QAbstractSocket::ConnectedState || !socket.waitForReadyRead(waitMs)) {
            buf += socket.readAll();
            a.closed = socket.state() != QAbstractSocket::ConnectedState;
            if (!buf.isEmpty() && buf.indexOf("\r\n\r\n") >= 0)
                continue; // the rest arrived together with the close
            return a;
        }
    }
}

inline bool sendRequest(QTcpSocket& socket, quint16 port, const QByteArray& target,
                        const QByteArray& method = "GET") {
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(10000))
        return false;
    socket.write(method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    return socket.waitForBytesWritten(10000);
}

inline Answer fetch(quint16 port, const QByteArray& target, const QByteArray& method = "GET") {
    QTcpSocket socket;
    if (!sendRequest(socket, port, target, method))
        return {};
    return readAnswer(socket);
}

// The data folder every portal test uses: the program folder of the build, which holds the
// shipped code list.
inline portal::PortalOptions testOptions() {
    portal::PortalOptions o;
    o.dataDir = QStringLiteral(QUORVIX_BIN_DIR);
    o.asOf = QDate(2026, 12, 4);
    return o;
}

inline QString codeListPath() {
    return QStringLiteral(QUORVIX_BIN_DIR "/銘柄コード一覧20060513.csv");
}

// The first listed code served under the given suffix.
inline QString firstCodeWithSuffix(const QString& suffix) {
    for (const portal::Listing& l : portal::readCodeList(codeListPath())) {
        if (portal::suffixForCode(l.code) == suffix)
            return l.code;
    }
    return {};
}

// The summary page of a code, as the viewer asks for it.
inline QByteArray summaryTarget(const QString& code) {
    return "/bin/gw?url=x&word=" + code.toLatin1() + "&site=12";
}

// The quote-portal program of the build, the same as the installed one.
inline QString programPath() {
    return QStringLiteral(QUORVIX_BIN_DIR "/quote-portal");
}

// Starts the program and reads its first line; the port comes from that line.
struct Program {
    QProcess process;
    quint16 port = 0;
    QString firstLine;

    bool start(const QStringList& extra, const QString& dataDir = QStringLiteral(QUORVIX_BIN_DIR)) {
        process.start(programPath(),
                      QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                                  QStringLiteral("--data"), dataDir, QStringLiteral("--as-of"),
                                  QStringLiteral("2026-12-04")} +
                          extra);
        if (!process.waitForStarted(10000))
            return false;
        while (!process.canReadLine()) {
            if (!process.waitForReadyRead(30000))
                return false;
        }
        firstLine = QString::fromUtf8(process.readLine()).trimmed();
        static const QRegularExpression re(
            QStringLiteral("^listening on http://127\\.0\\.0\\.1:(\\d+)$"));
        const auto m = re.match(firstLine);
        port = m.hasMatch() ? quint16(m.captured(1).toUInt()) : 0;
        return port != 0;
    }
    ~Program() {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            process.waitForFinished(10000);
        }
    }
};
