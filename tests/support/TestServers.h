#pragma once

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>

class QTcpSocket;

// A self-signed certificate for 127.0.0.1 made with the openssl tool; null when that fails.
struct TestCertificate
{
    QSslCertificate certificate;
    QSslKey key;
    bool isNull() const { return certificate.isNull() || key.isNull(); }
    static TestCertificate create();
};

// Small HTTP servers for network tests. Each listens on a free port of 127.0.0.1 from the moment
// it is constructed, records every request head and answers in its own way; with useTls() it
// speaks HTTPS.
class LoopbackServer : public QTcpServer
{
public:
    // "http://127.0.0.1:<port>/" ("https" once useTls() was called).
    QString url() const;
    // The raw request heads received so far, oldest first.
    const QList<QByteArray>& requests() const { return m_requests; }
    void useTls(const TestCertificate& tls) { m_tls = tls; }

protected:
    LoopbackServer();
    virtual void respond(QTcpSocket* socket) = 0;

private:
    void incomingConnection(qintptr descriptor) override;

    QList<QByteArray> m_requests;
    TestCertificate m_tls;
};

// Reads the request, then never answers.
class HangingServer final : public LoopbackServer
{
    void respond(QTcpSocket*) override {}
};

// Answers with the status and body after delayMs, then closes the connection.
class FixedServer final : public LoopbackServer
{
public:
    FixedServer(int status, const QByteArray& body, int delayMs = 0);

private:
    void respond(QTcpSocket* socket) override;
    QByteArray m_response;
    int m_delayMs;
};

// Answers 302 to the target over a connection it keeps open; without a target it sends the
// client back to itself, forever.
class RedirectServer final : public LoopbackServer
{
public:
    explicit RedirectServer(const QString& target = QString()) : m_target(target) {}

private:
    void respond(QTcpSocket* socket) override;
    QString m_target;
};

// Sends a 200 announcing 100000 bytes and part of a body, then resets the connection (RST).
class ResettingServer final : public LoopbackServer
{
    void respond(QTcpSocket* socket) override;
};

// Streams a body of bodyBytes without holding it in memory, with declaredLength as
// Content-Length (when larger than what is sent, it stalls after the body) or, when negative,
// chunked.
class FloodServer final : public LoopbackServer
{
public:
    FloodServer(qint64 bodyBytes, qint64 declaredLength)
        : m_bodyBytes(bodyBytes), m_declaredLength(declaredLength)
    {}
    // Body bytes the kernel took from us so far.
    qint64 bytesSent() const { return m_sent; }

private:
    void respond(QTcpSocket* socket) override;
    qint64 m_bodyBytes;
    qint64 m_declaredLength;
    qint64 m_sent = 0;
};

// A port on 127.0.0.1 that nobody listens on (as far as one can tell).
quint16 closedLoopbackPort();

// Sends `atOnce` as soon as the request head is in, then `trickled` one byte a second, then
// closes.
class TrickleServer final : public LoopbackServer
{
public:
    TrickleServer(const QByteArray& atOnce, const QByteArray& trickled)
        : m_atOnce(atOnce), m_trickled(trickled)
    {}

private:
    void respond(QTcpSocket* socket) override;
    QByteArray m_atOnce;
    QByteArray m_trickled;
};

// Answers the request head with the given bytes and then closes (FIN), resets (RST) or leaves
// the connection open.
class RawServer final : public LoopbackServer
{
public:
    enum class End { Close, Reset, KeepOpen };
    RawServer(const QByteArray& bytes, End end) : m_bytes(bytes), m_end(end) {}

private:
    void respond(QTcpSocket* socket) override;
    QByteArray m_bytes;
    End m_end;
};

// Accepts connections and closes each one without waiting for a request (firstBytes = false)
// or as soon as the client's first bytes arrive, whatever they are (firstBytes = true), after
// writing reply. A greeting that is not an HTTP head, such as a TLS or SOCKS handshake, counts.
class ClosingServer final : public QTcpServer
{
public:
    explicit ClosingServer(bool firstBytes, const QByteArray& reply = QByteArray());
    // Connections accepted so far.
    int accepted() const { return m_accepted; }

private:
    void incomingConnection(qintptr descriptor) override;
    bool m_firstBytes;
    QByteArray m_reply;
    int m_accepted = 0;
};
