#include "support/TestServers.h"

#include <QProcess>
#include <QSslSocket>
#include <QTimer>

#include <memory>
#include <sys/socket.h>

TestCertificate TestCertificate::create()
{
    if (!QSslSocket::supportsSsl())
        return TestCertificate();
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                   "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                   "subjectAltName=IP:127.0.0.1", "-keyout", "-", "-out", "-"});
    if (!openssl.waitForFinished(20000) || openssl.exitCode() != 0)
        return TestCertificate();
    const QByteArray pem = openssl.readAllStandardOutput(); // key and certificate
    return {QSslCertificate(pem), QSslKey(pem, QSsl::Ec)};
}

LoopbackServer::LoopbackServer()
{
    listen(QHostAddress::LocalHost, 0);
}

QString LoopbackServer::url() const
{
    return QStringLiteral("%1://127.0.0.1:%2/")
        .arg(m_tls.isNull() ? "http" : "https")
        .arg(serverPort());
}

void LoopbackServer::incomingConnection(qintptr descriptor)
{
    QTcpSocket* socket = m_tls.isNull() ? new QTcpSocket(this) : new QSslSocket(this);
    socket->setSocketDescriptor(descriptor);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QAbstractSocket::errorOccurred, socket, &QObject::deleteLater);
    auto head = std::make_shared<QByteArray>();
    connect(socket, &QTcpSocket::readyRead, this, [this, socket, head] {
        head->append(socket->readAll());
        // Several requests may come over one connection that is kept alive.
        for (qsizetype end; (end = head->indexOf("\r\n\r\n")) >= 0;) {
            // A copy of its own: left() of the whole buffer would keep readAll()'s spare
            // capacity alive for as long as the server lives.
            m_requests.append(QByteArray(head->constData(), end + 4));
            head->remove(0, end + 4);
            respond(socket);
        }
    });
    if (auto* tls = qobject_cast<QSslSocket*>(socket)) {
        tls->setLocalCertificate(m_tls.certificate);
        tls->setPrivateKey(m_tls.key);
        tls->startServerEncryption();
    }
}

FixedServer::FixedServer(int status, const QByteArray& body, int delayMs)
    : m_response("HTTP/1.1 " + QByteArray::number(status) +
                 " Answer\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                 QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body),
      m_delayMs(delayMs)
{}

void FixedServer::respond(QTcpSocket* socket)
{
    QTimer::singleShot(m_delayMs, Qt::PreciseTimer, socket, [this, socket] {
        socket->write(m_response);
        socket->disconnectFromHost();
    });
}

void RedirectServer::respond(QTcpSocket* socket)
{
    const QString target = m_target.isEmpty() ? url() : m_target;
    socket->write("HTTP/1.1 302 Found\r\nLocation: " + target.toUtf8() +
                  "\r\nContent-Length: 0\r\n\r\n");
}

void ResettingServer::respond(QTcpSocket* socket)
{
    socket->write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\npart of a bod");
    socket->flush();
    // Late enough for the client to have seen the status, then RST instead of FIN.
    QTimer::singleShot(150, socket, [socket] {
        const linger hard{1, 0};
        ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        socket->abort();
    });
}

void FloodServer::respond(QTcpSocket* socket)
{
    const bool chunked = m_declaredLength < 0;
    socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\n" +
                  (chunked ? QByteArray("Transfer-Encoding: chunked")
                           : "Content-Length: " + QByteArray::number(m_declaredLength)) +
                  "\r\n\r\n");
    auto remaining = std::make_shared<qint64>(m_bodyBytes);
    const bool closeAtEnd = chunked || m_declaredLength == m_bodyBytes;
    auto pump = [socket, remaining, chunked, closeAtEnd] {
        static const QByteArray block(64 * 1024, 'x');
        while (*remaining > 0 && socket->bytesToWrite() < 4 * block.size()) {
            const qint64 n = qMin<qint64>(*remaining, block.size());
            const QByteArray piece = QByteArray::fromRawData(block.constData(), n);
            socket->write(chunked ? QByteArray::number(n, 16) + "\r\n" + piece + "\r\n" : piece);
            *remaining -= n;
        }
        if (*remaining == 0) {
            *remaining = -1;
            if (chunked)
                socket->write("0\r\n\r\n");
            if (closeAtEnd)
                socket->disconnectFromHost();
        }
    };
    connect(socket, &QTcpSocket::bytesWritten, this, [this, pump](qint64 n) {
        m_sent += n;
        pump();
    });
    pump();
}

quint16 closedLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

void TrickleServer::respond(QTcpSocket* socket)
{
    socket->write(m_atOnce);
    auto* timer = new QTimer(socket);
    auto next = std::make_shared<qsizetype>(0);
    connect(timer, &QTimer::timeout, socket, [this, socket, next] {
        if (*next >= m_trickled.size()) {
            socket->disconnectFromHost();
            return;
        }
        socket->write(m_trickled.mid((*next)++, 1));
    });
    timer->start(1000);
}

void RawServer::respond(QTcpSocket* socket)
{
    socket->write(m_bytes);
    socket->flush();
    if (m_end == End::Close) {
        socket->disconnectFromHost();
    } else if (m_end == End::Reset) {
        const linger hard{1, 0};
        ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        socket->abort();
    }
}

ClosingServer::ClosingServer(bool firstBytes, const QByteArray& reply)
    : m_firstBytes(firstBytes), m_reply(reply)
{
    listen(QHostAddress::LocalHost, 0);
}

void ClosingServer::incomingConnection(qintptr descriptor)
{
    ++m_accepted;
    auto* socket = new QTcpSocket(this);
    socket->setSocketDescriptor(descriptor);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    if (!m_firstBytes) {
        socket->write(m_reply);
        socket->close();
        socket->deleteLater();
        return;
    }
    connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
        socket->write(m_reply);
        socket->close();
        socket->deleteLater();
    });
}
