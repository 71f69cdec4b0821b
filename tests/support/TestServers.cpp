#include "support/TestServers.h"

#include <QFile>
#include <QProcess>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>
#include <sys/socket.h>

namespace {
constexpr qint64 MaxHeadBytes = 64 * 1024;
} // namespace

LoopbackServer::LoopbackServer(QObject* parent) : QTcpServer(parent)
{
    listen(QHostAddress::LocalHost, 0);
}

QString LoopbackServer::url(const QString& path) const
{
    return QStringLiteral("%1://127.0.0.1:%2%3")
        .arg(m_certificate.isNull() ? "http" : "https")
        .arg(port())
        .arg(path);
}

QByteArray LoopbackServer::lastHeader(const QByteArray& name) const
{
    const QList<QByteArray> lines = lastRequest().split('\n');
    for (const QByteArray& line : lines) {
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return QByteArray();
}

void LoopbackServer::useTls(const QSslCertificate& certificate, const QSslKey& key)
{
    m_certificate = certificate;
    m_key = key;
}

QByteArray LoopbackServer::statusLine(int status)
{
    const char* reason = "Status";
    switch (status) {
    case 200:
        reason = "OK";
        break;
    case 301:
        reason = "Moved Permanently";
        break;
    case 302:
        reason = "Found";
        break;
    case 404:
        reason = "Not Found";
        break;
    case 500:
        reason = "Internal Server Error";
        break;
    }
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\n";
}

void LoopbackServer::sendAndClose(QTcpSocket* socket, const QByteArray& data)
{
    socket->write(data);
    socket->disconnectFromHost();
}

void LoopbackServer::incomingConnection(qintptr descriptor)
{
    if (m_certificate.isNull()) {
        auto* socket = new QTcpSocket(this);
        socket->setSocketDescriptor(descriptor);
        serve(socket);
        return;
    }
    auto* socket = new QSslSocket(this);
    socket->setSocketDescriptor(descriptor);
    socket->setLocalCertificate(m_certificate);
    socket->setPrivateKey(m_key);
    serve(socket);
    socket->startServerEncryption();
}

void LoopbackServer::serve(QTcpSocket* socket)
{
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QAbstractSocket::errorOccurred, socket, &QObject::deleteLater);
    auto head = std::make_shared<QByteArray>();
    connect(socket, &QTcpSocket::readyRead, this, [this, socket, head] {
        head->append(socket->readAll());
        // Several requests may come over one connection that is kept alive.
        for (;;) {
            const qsizetype end = head->indexOf("\r\n\r\n");
            if (end < 0 && head->size() < MaxHeadBytes)
                return;
            const qsizetype size = end < 0 ? head->size() : end + 4;
            m_requests.append(head->left(size));
            head->remove(0, size);
            emit requestReceived();
            respond(socket, m_requests.last());
            if (socket->state() != QAbstractSocket::ConnectedState)
                return;
        }
    });
}

FixedServer::FixedServer(int status, const QByteArray& body, const QStringList& headers,
                         int delayMs, QObject* parent)
    : LoopbackServer(parent), m_delayMs(delayMs)
{
    m_response = statusLine(status) +
                 "Content-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                 QByteArray::number(body.size()) + "\r\nConnection: close\r\n";
    for (const QString& header : headers)
        m_response += header.toUtf8() + "\r\n";
    m_response += "\r\n" + body;
}

void FixedServer::respond(QTcpSocket* socket, const QByteArray&)
{
    if (m_delayMs <= 0)
        return sendAndClose(socket, m_response);
    QTimer::singleShot(m_delayMs, Qt::PreciseTimer, socket,
                       [this, socket] { sendAndClose(socket, m_response); });
}

RedirectServer::RedirectServer(const QString& target, QObject* parent)
    : LoopbackServer(parent), m_target(target)
{}

void RedirectServer::respond(QTcpSocket* socket, const QByteArray& request)
{
    // Keeps the connection open, as most servers do.
    if (request.startsWith("GET /arrived")) {
        socket->write(statusLine(200) + "Content-Length: 7\r\n\r\narrived");
        return;
    }
    const QString target = m_target.isEmpty() ? url() : m_target;
    socket->write(statusLine(302) + "Location: " + target.toUtf8() +
                  "\r\nContent-Length: 0\r\n\r\n");
}

void ResettingServer::respond(QTcpSocket* socket, const QByteArray&)
{
    socket->write(statusLine(200) +
                  "Content-Type: text/plain\r\nContent-Length: 100000\r\n\r\npart of a bod");
    socket->flush();
    // Late enough for the client to have seen the status, then RST instead of FIN.
    QTimer::singleShot(150, socket, [socket] {
        const linger hard{1, 0};
        ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        socket->abort();
    });
}

FloodServer::FloodServer(qint64 bodyBytes, qint64 declaredLength, QObject* parent)
    : LoopbackServer(parent), m_bodyBytes(bodyBytes), m_declaredLength(declaredLength)
{}

void FloodServer::respond(QTcpSocket* socket, const QByteArray&)
{
    const bool chunked = m_declaredLength < 0;
    QByteArray head = statusLine(200) + "Content-Type: text/plain\r\nConnection: close\r\n";
    head += chunked ? QByteArray("Transfer-Encoding: chunked\r\n")
                    : "Content-Length: " + QByteArray::number(m_declaredLength) + "\r\n";
    socket->write(head + "\r\n");

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
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

TestCertificate TestCertificate::create()
{
    TestCertificate made;
    QTemporaryDir dir;
    if (!dir.isValid() || !QSslSocket::supportsSsl())
        return made;
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                   "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                   "subjectAltName=IP:127.0.0.1", "-keyout", dir.filePath("key.pem"), "-out",
                   dir.filePath("cert.pem")});
    if (!openssl.waitForFinished(20000) || openssl.exitStatus() != QProcess::NormalExit ||
        openssl.exitCode() != 0)
        return made;
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(dir.filePath("cert.pem"));
    QFile keyFile(dir.filePath("key.pem"));
    if (certificates.isEmpty() || !keyFile.open(QIODevice::ReadOnly))
        return made;
    made.certificate = certificates.first();
    made.key = QSslKey(&keyFile, QSsl::Ec);
    return made;
}
