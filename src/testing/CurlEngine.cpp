#include "testing/CurlEngine.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int SliceMs = 4;

void initCurlOnce()
{
    // curl_global_init is not thread-safe and must run before any other libcurl call. It is
    // never undone: other parts of the program may still hold easy handles at exit.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

QByteArray proxyScheme(ProxyType type)
{
    switch (type) {
    case ProxyType::Http:
    case ProxyType::HttpsTunnel:
        return "http://";
    case ProxyType::Socks4:
        return "socks4://";
    case ProxyType::Socks4a:
        return "socks4a://";
    case ProxyType::Socks5:
        return "socks5h://";
    case ProxyType::Direct:
        break;
    }
    return QByteArray();
}

long curlProxyType(ProxyType type)
{
    switch (type) {
    case ProxyType::Socks4:
        return CURLPROXY_SOCKS4;
    case ProxyType::Socks4a:
        return CURLPROXY_SOCKS4A;
    case ProxyType::Socks5:
        return CURLPROXY_SOCKS5_HOSTNAME;
    default:
        return CURLPROXY_HTTP;
    }
}

bool isSocks(ProxyType type)
{
    return type == ProxyType::Socks4 || type == ProxyType::Socks4a || type == ProxyType::Socks5;
}

// SOCKS replies in which the proxy answered properly in its own protocol: it understood the
// request and says why it did not (or will not) reach the target. The other CURLPX codes mean
// the proxy closed, said nothing, or said something that is not SOCKS.
bool isSocksAnswer(long pxcode)
{
    switch (pxcode) {
    case CURLPX_REPLY_ADDRESS_TYPE_NOT_SUPPORTED:
    case CURLPX_REPLY_COMMAND_NOT_SUPPORTED:
    case CURLPX_REPLY_CONNECTION_REFUSED:
    case CURLPX_REPLY_GENERAL_SERVER_FAILURE:
    case CURLPX_REPLY_HOST_UNREACHABLE:
    case CURLPX_REPLY_NETWORK_UNREACHABLE:
    case CURLPX_REPLY_NOT_ALLOWED:
    case CURLPX_REPLY_TTL_EXPIRED:
    case CURLPX_REPLY_UNASSIGNED:
    case CURLPX_REQUEST_FAILED: // SOCKS4 reply 91: rejected or failed
    case CURLPX_IDENTD:         // SOCKS4 reply 92
    case CURLPX_IDENTD_DIFFER:  // SOCKS4 reply 93
    case CURLPX_NO_AUTH:        // SOCKS5 wants a method we do not offer, like an HTTP 407
    case CURLPX_USER_REJECTED:
        return true;
    default:
        return false;
    }
}

} // namespace

struct CurlEngine::Private
{
    struct Transfer
    {
        quint64 id = 0;
        CURL* easy = nullptr; // null once finished (or when setting up failed)
        Done done;
        ProbeResult result;
        ProxyType type = ProxyType::Direct;
        bool tlsStarted = false; // the TLS handshake with the target began: any tunnel was up
        bool connected = false;  // a TCP connection to the first hop was made
        char error[CURL_ERROR_SIZE];
    };

    // The notifiers of one socket curl asked us to watch, what curl wants of it, and the events
    // that came after this turn's time was used up.
    struct Watch
    {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
        bool wantRead = false;
        bool wantWrite = false;
        int parked = 0; // CURL_CSELECT_* bits waiting for the next turn
    };

    explicit Private(CurlEngine* engine) : q(engine)
    {
        initCurlOnce();
        multi = curl_multi_init();
        // TLS sessions with a judge are resumed across transfers: a full handshake for each of
        // hundreds of tests through https judges keeps the window waiting. The session is
        // between the program and the judge, so a proxy still has to carry every byte.
        share = curl_share_init();
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &Private::onSocket);
        curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
        curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &Private::onTimer);
        curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
        timer.setSingleShot(true);
        // Time-outs end near their deadline, not up to 5 % later as a coarse timer would.
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, q, [this] { drive(CURL_SOCKET_TIMEOUT, 0); });
    }

    ~Private()
    {
        *alive = false;
        for (auto& entry : transfers)
            detach(*entry.second);
        transfers.clear();
        curl_multi_cleanup(multi);
        curl_share_cleanup(share);
        for (auto& entry : watches) {
            delete entry.second->read;
            delete entry.second->write;
        }
    }

    // curl's socket callback: which of our sockets to watch for what. Runs inside curl calls,
    // so it only changes notifiers.
    static int onSocket(CURL* easy, curl_socket_t fd, int what, void* self, void*)
    {
        auto* d = static_cast<Private*>(self);
        noteConnection(easy, fd);
        auto it = d->watches.find(fd);
        if (what == CURL_POLL_REMOVE) {
            if (it != d->watches.end()) {
                if (it->second->parked)
                    d->waiting.erase(std::remove(d->waiting.begin(), d->waiting.end(), fd),
                                     d->waiting.end());
                // The notifier may be the one whose signal is running right now: disable it at
                // once, so that a new socket on the same number gets its own, and free it later.
                for (QSocketNotifier* n : {it->second->read, it->second->write}) {
                    if (n) {
                        n->setEnabled(false);
                        n->deleteLater();
                    }
                }
                d->watches.erase(it);
            }
            return 0;
        }
        if (it == d->watches.end())
            it = d->watches.emplace(fd, std::make_unique<Watch>()).first;
        Watch& w = *it->second;
        w.wantRead = what == CURL_POLL_IN || what == CURL_POLL_INOUT;
        w.wantWrite = what == CURL_POLL_OUT || what == CURL_POLL_INOUT;
        d->arm(fd, w);
        return 0;
    }

    // Whether the transfer's socket got connected to its first hop. libcurl 7.88 records its
    // connect time only once any SOCKS handshake or CONNECT is done, so it cannot tell a proxy
    // that took the connection and then failed from one that never took it. curl calls the
    // socket callback whenever what it waits for changes: after the TCP connect (it then waits
    // for the proxy's answer) and just before it closes the socket. A connected socket has a
    // peer, also after the peer closed its end.
    static void noteConnection(CURL* easy, curl_socket_t fd)
    {
        Transfer* t = nullptr;
        if (!easy || curl_easy_getinfo(easy, CURLINFO_PRIVATE, &t) != CURLE_OK || !t ||
            t->connected)
            return;
        sockaddr_storage peer{};
        socklen_t size = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) == 0)
            t->connected = true;
    }

    // Notifiers on for what curl waits for, unless an event of the socket is parked.
    void arm(curl_socket_t fd, Watch& w)
    {
        setNotifier(w.read, fd, QSocketNotifier::Read, w.wantRead && !w.parked, CURL_CSELECT_IN);
        setNotifier(w.write, fd, QSocketNotifier::Write, w.wantWrite && !w.parked,
                    CURL_CSELECT_OUT);
    }

    void setNotifier(QSocketNotifier*& n, curl_socket_t fd, QSocketNotifier::Type type, bool on,
                     int event)
    {
        if (!n) {
            if (!on)
                return;
            n = new QSocketNotifier(fd, type, q);
            QObject::connect(n, &QSocketNotifier::activated, q,
                             [this, fd, event] { onActivated(fd, event); });
        }
        n->setEnabled(on);
    }

    // Socket events are served a slice of time per turn of the event loop. Hundreds of sockets
    // ready at once (a wave of answers, a wave of connects) would otherwise all be served in one
    // turn, and the window would wait for every one of them. What comes after the slice is
    // parked, its notifiers off, and served first in the next turn.
    void onActivated(curl_socket_t fd, int event)
    {
        if (!slice.isValid()) {
            slice.start();
            QMetaObject::invokeMethod(
                q, [this] { nextTurn(); }, Qt::QueuedConnection);
        }
        if (waiting.empty() && slice.elapsed() < SliceMs)
            return drive(fd, event);
        auto it = watches.find(fd);
        if (it == watches.end())
            return;
        Watch& w = *it->second;
        if (!w.parked)
            waiting.push_back(fd);
        w.parked |= event;
        arm(fd, w);
    }

    void nextTurn()
    {
        const std::shared_ptr<bool> guard = alive;
        slice.start();
        while (!waiting.empty() && slice.elapsed() < SliceMs) {
            const curl_socket_t fd = waiting.front();
            waiting.pop_front();
            auto it = watches.find(fd);
            if (it == watches.end())
                continue;
            Watch& w = *it->second;
            const int event = std::exchange(w.parked, 0);
            arm(fd, w);
            drive(fd, event);
            if (!*guard) // a callback took the engine with it
                return;
        }
        if (waiting.empty())
            slice.invalidate();
        else
            QMetaObject::invokeMethod(
                q, [this] { nextTurn(); }, Qt::QueuedConnection);
    }

    static int onTimer(CURLM*, long timeoutMs, void* self)
    {
        auto* d = static_cast<Private*>(self);
        if (timeoutMs < 0)
            d->timer.stop();
        else
            d->timer.start(int(std::min<long>(timeoutMs, INT_MAX)));
        return 0;
    }

    // Lets curl act on a socket event or its time-out, then hands out what finished. Callbacks
    // run after curl returned, so they may start and cancel transfers freely.
    void drive(curl_socket_t fd, int event)
    {
        int running = 0;
        curl_multi_socket_action(multi, fd, event, &running);
        collect();
        deliver();
    }

    void collect()
    {
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
            if (msg->msg != CURLMSG_DONE)
                continue;
            Transfer* t = nullptr;
            curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &t);
            finish(*t, msg->data.result);
            detach(*t);
            finished.push_back(t->id);
        }
    }

    void finish(Transfer& t, CURLcode code)
    {
        ProbeResult& r = t.result;
        CURL* e = t.easy;
        long status = 0, connectCode = 0, pxcode = 0;
        curl_off_t connectTime = 0, pretransferTime = 0, totalTime = 0;
        curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_getinfo(e, CURLINFO_HTTP_CONNECTCODE, &connectCode);
        curl_easy_getinfo(e, CURLINFO_PROXY_ERROR, &pxcode);
        curl_easy_getinfo(e, CURLINFO_CONNECT_TIME_T, &connectTime);
        curl_easy_getinfo(e, CURLINFO_PRETRANSFER_TIME_T, &pretransferTime);
        curl_easy_getinfo(e, CURLINFO_TOTAL_TIME_T, &totalTime);

        r.curlCode = int(code);
        r.ok = code == CURLE_OK;
        r.timedOut = code == CURLE_OPERATION_TIMEDOUT;
        // A refused CONNECT is the answer the caller gets: the target's status never came.
        r.status = int(status > 0 ? status : (connectCode >= 300 ? connectCode : 0));
        r.seconds = double(totalTime) / 1e6;
        if (!r.ok) {
            // curl's own detail names the place ("Failed to connect to 127.0.0.1 port 8080...")
            // and usually ends with the general text already.
            const QString detail = QString::fromUtf8(t.error).trimmed();
            r.errorText = detail.isEmpty() ? QString::fromUtf8(curl_easy_strerror(code)) : detail;
        }

        const bool connected = !r.noSocket && (t.connected || connectTime > 0);
        // SOCKS: curl finishes the handshake before it sends the request (pretransfer time set)
        // or starts TLS with the target (tlsStarted). Either is past the proxy's part, whatever
        // failed later; a failed handshake leaves a CURLPX code other than OK.
        const bool socksDone = isSocks(t.type) && connected && pxcode == CURLPX_OK &&
                               (pretransferTime > 0 || t.tlsStarted);
        if (status > 0 || connectCode > 0 || isSocksAnswer(pxcode) || socksDone ||
            (connected && t.type == ProxyType::Direct))
            r.reach = ProbeResult::Reach::Beyond;
        else if (connected)
            r.reach = ProbeResult::Reach::Proxy;
        else
            r.reach = ProbeResult::Reach::None;
    }

    // Takes the transfer's easy handle out of curl; the transfer itself stays until delivered.
    void detach(Transfer& t)
    {
        if (!t.easy)
            return;
        curl_multi_remove_handle(multi, t.easy);
        curl_easy_cleanup(t.easy);
        t.easy = nullptr;
    }

    void deliver()
    {
        if (finished.empty())
            return;
        std::vector<quint64> batch;
        batch.swap(finished);
        const std::shared_ptr<bool> guard = alive;
        for (quint64 id : batch) {
            auto it = transfers.find(id);
            if (it == transfers.end()) // cancelled by an earlier callback of this batch
                continue;
            std::unique_ptr<Transfer> t = std::move(it->second);
            transfers.erase(it);
            t->done(t->result);
            if (!*guard) // the engine went with that callback
                return;
        }
    }

    // For results that exist before curl had the transfer: delivered from the event loop.
    void deliverLater(quint64 id)
    {
        finished.push_back(id);
        QMetaObject::invokeMethod(
            q, [this] { deliver(); }, Qt::QueuedConnection);
    }

    static size_t onWrite(char* data, size_t size, size_t count, void* self)
    {
        auto* t = static_cast<Transfer*>(self);
        const size_t n = size * count;
        // libcurl's own size limit trusts Content-Length; a chunked or unannounced body is only
        // caught here.
        if (t->result.body.size() + qint64(n) > MaxBodyBytes) {
            t->result.tooLarge = true;
            t->result.body = QByteArray();
            return 0;
        }
        t->result.body.append(data, qsizetype(n));
        return n;
    }

    static curl_socket_t onOpenSocket(void* self, curlsocktype, curl_sockaddr* address)
    {
        auto* t = static_cast<Transfer*>(self);
        const int fd =
            ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                t->result.noSocket = true;
            return CURL_SOCKET_BAD;
        }
        return fd;
    }

    static CURLcode onSslContext(CURL*, void*, void* self)
    {
        static_cast<Transfer*>(self)->tlsStarted = true;
        return CURLE_OK;
    }

    // Sets up the easy handle; false when curl refused something.
    bool setUp(Transfer& t, const ProbeRequest& request)
    {
        CURL* e = t.easy;
        t.error[0] = '\0';
        const QByteArray url = request.url.toEncoded();
        bool ok = true;
        auto set = [&](CURLoption option, auto value) {
            if (ok && curl_easy_setopt(e, option, value) != CURLE_OK)
                ok = false;
        };
        set(CURLOPT_ERRORBUFFER, t.error);
        set(CURLOPT_SHARE, share);
        set(CURLOPT_PRIVATE, static_cast<void*>(&t));
        set(CURLOPT_URL, url.constData());
        set(CURLOPT_PROTOCOLS_STR, "http,https");
        set(CURLOPT_HTTPGET, 1L);
        set(CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
        set(CURLOPT_NOSIGNAL, 1L);
        set(CURLOPT_FOLLOWLOCATION, 0L);
        set(CURLOPT_TIMEOUT_MS, long(std::max(0, request.timeoutMs)));
        // Each test gets its own connection: a kept connection would hide what the proxy does
        // with a new one.
        set(CURLOPT_FRESH_CONNECT, 1L);
        set(CURLOPT_FORBID_REUSE, 1L);
        if (!request.userAgent.isEmpty())
            set(CURLOPT_USERAGENT, request.userAgent.constData());
        set(CURLOPT_WRITEFUNCTION, &Private::onWrite);
        set(CURLOPT_WRITEDATA, static_cast<void*>(&t));
        set(CURLOPT_OPENSOCKETFUNCTION, &Private::onOpenSocket);
        set(CURLOPT_OPENSOCKETDATA, static_cast<void*>(&t));
        set(CURLOPT_SSL_VERIFYPEER, 1L);
        set(CURLOPT_SSL_VERIFYHOST, 2L);
        const QByteArray extraCa = qgetenv("CORVATEL_CA_FILE");
        if (!extraCa.isEmpty()) {
            // With OpenSSL both are loaded into one store: the file, and the system's
            // certificates by their hash names in the folder.
            set(CURLOPT_CAINFO, extraCa.constData());
            set(CURLOPT_CAPATH, "/etc/ssl/certs");
        }
        if (request.type == ProxyType::Direct) {
            set(CURLOPT_PROXY, ""); // "" also overrides http_proxy and the like
        } else {
            const QByteArray proxy = proxyScheme(request.type) + request.proxy.toUtf8();
            set(CURLOPT_PROXY, proxy.constData());
            set(CURLOPT_PROXYTYPE, curlProxyType(request.type));
            set(CURLOPT_NOPROXY, ""); // "" also overrides no_proxy
            if (request.type == ProxyType::HttpsTunnel)
                set(CURLOPT_HTTPPROXYTUNNEL, 1L);
            if (isSocks(request.type)) {
                set(CURLOPT_SSL_CTX_FUNCTION, &Private::onSslContext);
                set(CURLOPT_SSL_CTX_DATA, static_cast<void*>(&t));
            }
        }
        return ok;
    }

    CurlEngine* q;
    CURLM* multi = nullptr;
    CURLSH* share = nullptr;
    QTimer timer;
    quint64 lastId = 0;
    std::unordered_map<quint64, std::unique_ptr<Transfer>> transfers;
    std::unordered_map<curl_socket_t, std::unique_ptr<Watch>> watches;
    std::deque<curl_socket_t> waiting; // sockets with parked events, oldest first
    QElapsedTimer slice;               // this turn's time, while sockets are being served
    std::vector<quint64> finished;     // ids whose callbacks are due
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

CurlEngine::CurlEngine(QObject* parent) : QObject(parent), d(std::make_unique<Private>(this)) {}

CurlEngine::~CurlEngine() = default;

quint64 CurlEngine::start(const ProbeRequest& request, Done done)
{
    auto transfer = std::make_unique<Private::Transfer>();
    Private::Transfer& t = *transfer;
    t.id = ++d->lastId;
    t.done = std::move(done);
    t.type = request.type;
    d->transfers.emplace(t.id, std::move(transfer));

    t.easy = curl_easy_init();
    CURLcode failure = CURLE_OK;
    if (!t.easy)
        failure = CURLE_FAILED_INIT;
    else if (!d->setUp(t, request))
        failure = CURLE_BAD_FUNCTION_ARGUMENT;
    else if (curl_multi_add_handle(d->multi, t.easy) != CURLM_OK)
        failure = CURLE_FAILED_INIT;
    if (failure != CURLE_OK) {
        if (t.easy) {
            curl_easy_cleanup(t.easy);
            t.easy = nullptr;
        }
        t.result.curlCode = int(failure);
        t.result.errorText = QString::fromUtf8(curl_easy_strerror(failure));
        d->deliverLater(t.id);
    }
    return t.id;
}

void CurlEngine::cancel(quint64 id)
{
    auto it = d->transfers.find(id);
    if (it == d->transfers.end())
        return;
    d->detach(*it->second);
    d->transfers.erase(it);
}

int CurlEngine::inFlight() const
{
    return int(d->transfers.size());
}
