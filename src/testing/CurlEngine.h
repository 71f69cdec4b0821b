#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

// How a test speaks to the proxy under test. Direct fetches (a judge checked without a proxy)
// use Direct.
enum class ProxyType { Direct, Http, HttpsTunnel, Socks4, Socks4a, Socks5 };

struct ProbeRequest
{
    QUrl url; // http or https
    ProxyType type = ProxyType::Direct;
    QString proxy;        // "host:port" or "[v6]:port"; unused for Direct
    int timeoutMs = 0;    // the whole transfer from its start; 0 = none
    QByteArray userAgent; // sent as User-Agent
};

struct ProbeResult
{
    // How far the request got. None: no connection to the first hop (refused, unreachable, timed
    // out while connecting, or no socket). Proxy: connected to the proxy, but it did not answer
    // in its protocol (closed, hung, or sent something else). Beyond: the proxy did its part: it
    // answered with an HTTP status, completed its tunnel or SOCKS handshake, or said in its own
    // protocol that it could not reach the target. A direct fetch that connected is Beyond.
    enum class Reach { None, Proxy, Beyond };

    Reach reach = Reach::None;
    bool ok = false;       // the transfer completed (whatever the status)
    bool timedOut = false; // timeoutMs ran out
    bool tooLarge = false; // the body passed MaxBodyBytes; the body is then empty
    bool noSocket = false; // a socket could not be opened (open-files limit): nothing was tried
    int status = 0;        // HTTP status of the answer; 0 when none came
    QByteArray body;
    double seconds = 0; // from start to end
    int curlCode = 0;   // libcurl's CURLcode, 0 when ok
    QString errorText;  // one line for a status text when !ok
};

// Many GETs at once on the calling thread, through libcurl's multi interface driven by the Qt
// event loop (socket notifiers and one timer): no thread per transfer. Proxy environment
// variables are never consulted: a proxied request goes through its proxy, a direct one goes
// direct. TLS certificates are checked against the system's store, plus the file named by
// CORVATEL_CA_FILE when that is set.
class CurlEngine final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CurlEngine)

public:
    using Done = std::function<void(const ProbeResult&)>;
    static constexpr qint64 MaxBodyBytes = qint64(32) * 1024 * 1024;

    explicit CurlEngine(QObject* parent = nullptr);
    // Cancels whatever is in flight; no callback runs.
    ~CurlEngine() override;

    // Starts a GET. done runs exactly once, from the event loop (never inside start), unless the
    // transfer is cancelled or the engine destroyed first. Returns the transfer's id (never 0).
    quint64 start(const ProbeRequest& request, Done done);
    // Ends a transfer now; its done does not run. Unknown ids are ignored.
    void cancel(quint64 id);
    int inFlight() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
