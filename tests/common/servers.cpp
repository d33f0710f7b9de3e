#include "servers.h"

#include <QEventLoop>
#include <QHttpServer>
#include <QTcpServer>
#include <QTcpSocket>

namespace testing {

QString ThreadedServer::base() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

void ThreadedServer::start(std::function<quint16(QObject& owner)> listen) {
    m_thread.reset(QThread::create([this, listen] {
        QObject owner; // what serves is its child, on this thread, until the loop ends
        m_port = listen(owner);
        m_ready.release();
        QEventLoop loop;
        loop.exec();
    }));
    m_thread->start();
    m_ready.acquire();
}

ThreadedServer::~ThreadedServer() {
    m_thread->quit();
    m_thread->wait();
}

FixedPageServer::FixedPageServer(const QString& path, const QByteArray& page) {
    start([path, page](QObject& owner) -> quint16 {
        auto* server = new QHttpServer(&owner);
        server->route(path, [page] { return QHttpServerResponse("text/html", page); });
        return server->listen(QHostAddress::LocalHost, 0);
    });
}

SilentServer::SilentServer() {
    start([this](QObject& owner) -> quint16 {
        auto* s = new QTcpServer(&owner);
        s->listen(QHostAddress::LocalHost);
        QObject::connect(s, &QTcpServer::newConnection, s, [this, s] {
            while (QTcpSocket* socket = s->nextPendingConnection()) {
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
        return s->serverPort();
    });
}

QStringList SilentServer::targets() const {
    QMutexLocker lock(&m_mutex);
    return m_targets;
}

} // namespace testing
