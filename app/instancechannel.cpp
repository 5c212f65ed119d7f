#include "instancechannel.h"

#include <QLocalServer>
#include <QLocalSocket>

namespace {
const QByteArray kShow = QByteArrayLiteral("show\n");
const int kWaitMs = 1000;
} // namespace

instanceChannel::instanceChannel(QObject* parent)
    : QObject(parent)
    , m_server(new QLocalServer(this))
{
    connect(m_server, &QLocalServer::newConnection, this, &instanceChannel::slotOnNewConnection);
}

bool instanceChannel::listen(const QString& name)
{
    // Only the holder of the single-instance lock gets here, so a socket
    // file that is already there was left by an instance that died.
    QLocalServer::removeServer(name);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    return m_server->listen(name);
}

bool instanceChannel::askToShow(const QString& name)
{
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(kWaitMs))
        return false;
    socket.write(kShow);
    const bool sent = socket.waitForBytesWritten(kWaitMs);
    socket.disconnectFromServer();
    return sent;
}

void instanceChannel::slotOnNewConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (socket->readAll().contains(kShow))
                emit signalShowRequested();
        });
    }
}
