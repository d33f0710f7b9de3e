#include "servers.h"

#include <QEventLoop>
#include <QHttpServer>
#include <QTcpServer>
#include <QTcpSocket>

namespace testing {

namespace {

QString loopbackBase(quint16 port) {
    return QStringLiteral("http://127.0.0.1:%1").arg(port);
}

} // namespace

FixedPageServer::FixedPageServer(const QString& path, const QByteArray& page) {
    m_thread.reset(QThread::create([this, path, page] {
        QHttpServer server;
        server.route(path, [page] { return QHttpServerResponse("text/html", page); });
        m_port = server.listen(QHostAddress::LocalHost, 0);
        m_ready.release();
        QEventLoop loop;
        loop.exec();
    }));
    m_thread->start();
    m_ready.acquire();
}

FixedPageServer::~FixedPageServer() {
    m_thread->quit();
    m_thread->wait();
}

QString FixedPageServer::base() const {
    return loopbackBase(m_port);
}

SilentServer::SilentServer() {
    m_thread.reset(QThread::create([this] { serve(); }));
    m_thread->start();
    m_ready.acquire();
}

SilentServer::~SilentServer() {
    m_thread->quit();
    m_thread->wait();
}

QString SilentServer::base() const {
    return loopbackBase(m_port);
}

QStringList SilentServer::targets() const {
    QMutexLocker lock(&m_mutex);
    return m_targets;
}

void SilentServer::serve() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    m_port = server.serverPort();
    QObject::connect(&server, &QTcpServer::newConnection, &server, [this, &server] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                if (!socket->canReadLine() || socket->property("seen").toBool())
                    return;
                socket->setProperty("seen", true);
                const QList<QByteArray> words = socket->readLine().trimmed().split(' ');
                QMutexLocker lock(&m_mutex);
                m_targets << QString::fromLatin1(words.value(1));
            });
        }
    });
    m_ready.release();
    QEventLoop loop;
    loop.exec();
}

} // namespace testing
