#include "support/TlsJudge.h"

#include <QFile>
#include <QProcess>
#include <QSslSocket>

#include <memory>

namespace {

// The CGI echo of one request head.
QByteArray echoOf(const QByteArray& head, const QHostAddress& peer)
{
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    const QByteArray uri = requestLine.value(1);
    const qsizetype question = uri.indexOf('?');
    QByteArray body = "GATEWAY_INTERFACE=CGI/1.1\nREQUEST_METHOD=" + requestLine.value(0) +
                      "\nREQUEST_URI=" + uri +
                      "\nQUERY_STRING=" + (question < 0 ? QByteArray() : uri.mid(question + 1)) +
                      "\nREMOTE_ADDR=" + peer.toString().toLatin1() + '\n';
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        body += "HTTP_" + line.left(colon).trimmed().toUpper().replace('-', '_') + '=' +
                line.mid(colon + 1).trimmed() + '\n';
    }
    return body;
}

} // namespace

TlsJudge::TlsJudge() = default;

QString TlsJudge::start()
{
    if (!QSslSocket::supportsSsl())
        return QStringLiteral("Qt has no TLS backend");
    if (!m_dir.isValid())
        return QStringLiteral("no temporary folder: ") + m_dir.errorString();
    const QString keyFile = m_dir.filePath(QStringLiteral("judge.key"));
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
                  // An EC key: cheap handshakes, so a judge serving hundreds of them stays light.
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                   "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                   "subjectAltName=IP:127.0.0.1", "-keyout", keyFile, "-out", caFile()});
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
        return QStringLiteral("openssl req failed: ") + QString::fromLocal8Bit(openssl.readAll());
    QFile cert(caFile());
    QFile key(keyFile);
    if (!cert.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read what openssl made");
    m_certificate = QSslCertificate(cert.readAll());
    m_key = QSslKey(key.readAll(), QSsl::Ec);
    if (m_certificate.isNull() || m_key.isNull())
        return QStringLiteral("openssl made no usable certificate or key");
    if (!listen(QHostAddress::LocalHost, 0))
        return errorString();
    return QString();
}

QString TlsJudge::url() const
{
    return QStringLiteral("https://127.0.0.1:%1/gate.php").arg(serverPort());
}

void TlsJudge::incomingConnection(qintptr descriptor)
{
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QSslSocket::errorOccurred, socket, &QObject::deleteLater);
    // A client that rejects the certificate ends the handshake with an alert: nothing to do.
    connect(socket, &QSslSocket::sslErrors, socket, &QObject::deleteLater);
    auto head = std::make_shared<QByteArray>();
    connect(socket, &QSslSocket::readyRead, this, [this, socket, head] {
        head->append(socket->readAll());
        const qsizetype end = head->indexOf("\r\n\r\n");
        if (end < 0) {
            if (head->size() > 64 * 1024)
                socket->abort();
            return;
        }
        const QByteArray body = echoOf(head->left(end), socket->peerAddress());
        head->clear();
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    });
    socket->setLocalCertificate(m_certificate);
    socket->setPrivateKey(m_key);
    socket->startServerEncryption();
}
