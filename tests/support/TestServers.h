#pragma once

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QStringList>
#include <QTcpServer>

class QTcpSocket;

// Small HTTP servers for network tests. Each listens on 127.0.0.1 at a free port from the moment
// it is constructed, reads one request head per connection, records it and answers in its own
// way. With useTls() it speaks HTTPS instead.
class LoopbackServer : public QTcpServer
{
    Q_OBJECT

public:
    quint16 port() const { return serverPort(); }
    // "http://127.0.0.1:<port>" + path ("https" once useTls() was called).
    QString url(const QString& path = QStringLiteral("/")) const;

    // The raw request heads received so far, oldest first.
    const QList<QByteArray>& requests() const { return m_requests; }
    QByteArray lastRequest() const
    {
        return m_requests.isEmpty() ? QByteArray() : m_requests.last();
    }
    // The value of a header of the last request ("" when missing), name without regard to case.
    QByteArray lastHeader(const QByteArray& name) const;

    void useTls(const QSslCertificate& certificate, const QSslKey& key);

signals:
    void requestReceived();

protected:
    explicit LoopbackServer(QObject* parent);
    // Called once per connection with the complete request head.
    virtual void respond(QTcpSocket* socket, const QByteArray& request) = 0;

    static QByteArray statusLine(int status);
    // Writes the data, then closes the connection once it has gone out.
    static void sendAndClose(QTcpSocket* socket, const QByteArray& data);

private:
    void incomingConnection(qintptr descriptor) override;
    void serve(QTcpSocket* socket);

    QList<QByteArray> m_requests;
    QSslCertificate m_certificate;
    QSslKey m_key;
};

// Accepts and reads the request, then never answers.
class HangingServer final : public LoopbackServer
{
    Q_OBJECT

public:
    explicit HangingServer(QObject* parent = nullptr) : LoopbackServer(parent) {}

protected:
    void respond(QTcpSocket*, const QByteArray&) override {}
};

// Answers every request with a fixed status, body and extra header lines ("Name: value"),
// optionally after a delay.
class FixedServer final : public LoopbackServer
{
    Q_OBJECT

public:
    explicit FixedServer(int status = 200, const QByteArray& body = "hello",
                         const QStringList& headers = {}, int delayMs = 0,
                         QObject* parent = nullptr);

protected:
    void respond(QTcpSocket* socket, const QByteArray& request) override;

private:
    QByteArray m_response;
    int m_delayMs;
};

// Answers 302 with a Location (absolute or relative) over a connection it keeps open; without a
// target it sends the client back to itself, forever. Paths starting "/arrived" get 200 "arrived".
class RedirectServer final : public LoopbackServer
{
    Q_OBJECT

public:
    explicit RedirectServer(const QString& target = QString(), QObject* parent = nullptr);

protected:
    void respond(QTcpSocket* socket, const QByteArray& request) override;

private:
    QString m_target;
};

// Sends a 200 with "Content-Length: <declared length>" and part of a body, then resets the
// connection (RST, not an orderly close).
class ResettingServer final : public LoopbackServer
{
    Q_OBJECT

public:
    explicit ResettingServer(QObject* parent = nullptr) : LoopbackServer(parent) {}

protected:
    void respond(QTcpSocket* socket, const QByteArray& request) override;
};

// Streams a body of bodyBytes without holding it in memory. declaredLength >= 0 sends that as
// Content-Length (when it is larger than what is sent, the server stalls after the body);
// declaredLength < 0 sends the body chunked.
class FloodServer final : public LoopbackServer
{
    Q_OBJECT

public:
    explicit FloodServer(qint64 bodyBytes, qint64 declaredLength = -1, QObject* parent = nullptr);
    // Body bytes the kernel took from us so far, over all connections.
    qint64 bytesSent() const { return m_sent; }

protected:
    void respond(QTcpSocket* socket, const QByteArray& request) override;

private:
    qint64 m_bodyBytes;
    qint64 m_declaredLength;
    qint64 m_sent = 0;
};

// A port on 127.0.0.1 that nobody listens on (as far as one can tell).
quint16 closedLoopbackPort();

// A self-signed certificate for 127.0.0.1 made with the openssl tool; null when that fails.
struct TestCertificate
{
    QSslCertificate certificate;
    QSslKey key;
    bool isNull() const { return certificate.isNull() || key.isNull(); }
    static TestCertificate create();
};
