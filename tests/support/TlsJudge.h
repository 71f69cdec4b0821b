#pragma once

#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QTcpServer>
#include <QTemporaryDir>

// An HTTPS judge on a free port of 127.0.0.1: every GET gets a CGI echo of itself, one
// NAME=value line each (GATEWAY_INTERFACE, REQUEST_METHOD, REQUEST_URI, QUERY_STRING,
// REMOTE_ADDR and HTTP_<NAME> for every header). Its certificate, for 127.0.0.1, is made with
// the openssl tool and trusted by nobody until a client is given caFile().
class TlsJudge final : public QTcpServer
{
public:
    TlsJudge();
    // Makes the certificate and starts listening; returns what went wrong, or "".
    QString start();
    // The certificate in PEM, for CORVATEL_CA_FILE.
    QString caFile() const { return m_dir.filePath(QStringLiteral("judge.pem")); }
    // "https://127.0.0.1:<port>/gate.php".
    QString url() const;

private:
    void incomingConnection(qintptr descriptor) override;

    QTemporaryDir m_dir;
    QSslCertificate m_certificate;
    QSslKey m_key;
};
