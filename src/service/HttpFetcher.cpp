#include "service/HttpFetcher.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <climits>
#include <utility>

const char HttpFetcher::UserAgent[] =
    "Mozilla/5.0 (Windows NT 5.2; rv:10.0.2) NEWT ActiveX Firefox/10.0.2";

namespace {

constexpr qint64 ReadBufferBytes = 1024 * 1024;

// How many bytes at the end of data are the start of a UTF-8 sequence that is not complete yet.
qsizetype incompleteUtf8Tail(const QByteArray& data)
{
    const qsizetype size = data.size();
    for (qsizetype back = 1; back <= std::min<qsizetype>(3, size); ++back) {
        const uchar c = uchar(data[size - back]);
        if ((c & 0xC0) == 0x80)
            continue; // a continuation byte: its lead is further back
        const qsizetype length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return length > back ? back : 0;
    }
    return 0;
}

bool isWebScheme(const QString& scheme)
{
    return scheme.compare(QLatin1String("http"), Qt::CaseInsensitive) == 0 ||
           scheme.compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

// "host:port" or "[v6 address]:port" of an HTTP proxy; "socks=" in front names a SOCKS5 proxy.
bool parseProxy(QString text, QNetworkProxy* proxy)
{
    static const QString socksPrefix = QStringLiteral("socks=");
    const bool socks = text.startsWith(socksPrefix, Qt::CaseInsensitive);
    if (socks)
        text.remove(0, socksPrefix.size());
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return false;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'))) {
        host = host.mid(1, host.size() - 2);
        if (QHostAddress(host).protocol() != QAbstractSocket::IPv6Protocol)
            return false;
    } else if (host.contains(QLatin1Char(':'))) {
        return false;
    }
    for (const QChar c : std::as_const(host)) {
        if (c.isSpace() || c == QLatin1Char('/') || c == QLatin1Char('@'))
            return false;
    }
    *proxy = QNetworkProxy(socks ? QNetworkProxy::Socks5Proxy : QNetworkProxy::HttpProxy, host,
                           quint16(port));
    return true;
}

// Errors Qt derives from the HTTP status itself; the server did answer.
bool isHttpLevelError(QNetworkReply::NetworkError error)
{
    return (error >= QNetworkReply::ContentAccessDenied &&
            error <= QNetworkReply::UnknownContentError) ||
           (error >= QNetworkReply::InternalServerError &&
            error <= QNetworkReply::UnknownServerError);
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

} // namespace

FetchJob::FetchJob(QObject* parent) : QObject(parent)
{
    m_clock.start();
}

FetchJob::~FetchJob()
{
    if (m_reply) {
        disconnect(m_reply, nullptr, this, nullptr);
        m_reply->abort();
        m_reply->deleteLater();
    }
}

void FetchJob::get(const QUrl& url)
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QString::fromLatin1(HttpFetcher::UserAgent));
    // Qt 6.4 following redirects by itself repeats requests on kept-alive connections and ends a
    // redirect loop as a success without status, so every hop is a request of our own.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    m_redirecting = false;
    QNetworkReply* reply = m_manager->get(request);
    // Flow control: without it the network thread reads on at full speed whatever we do with
    // the data, so an endless body would pile up in queued events.
    reply->setReadBufferSize(ReadBufferBytes);
    m_reply = reply;
    connect(reply, &QNetworkReply::metaDataChanged, this, &FetchJob::onMetaData);
    connect(reply, &QNetworkReply::readyRead, this, &FetchJob::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &FetchJob::onReplyFinished);
}

void FetchJob::onMetaData()
{
    if (!m_reply || m_result.finished)
        return;
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (!m_overLimit && length.isValid() && length.toLongLong() > HttpFetcher::MaxBodyBytes) {
        m_overLimit = true;
        // Aborting from inside the reply's own signal is left to the event loop.
        QMetaObject::invokeMethod(this, &FetchJob::abort, Qt::QueuedConnection);
    }
    const QVariant code = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!code.isValid())
        return;
    const int status = code.toInt();
    m_redirecting = isRedirect(status) && m_reply->hasRawHeader("Location");
    if (m_redirecting || m_result.status != -1)
        return;
    m_result.status = status;
    emit responseStarted(status);
}

void FetchJob::onReadyRead()
{
    if (!m_reply)
        return;
    // Always drain, so that nothing piles up inside the reply either.
    const QByteArray chunk = m_reply->readAll();
    if (m_overLimit)
        return;
    if (m_bytes + chunk.size() > HttpFetcher::MaxBodyBytes) {
        m_overLimit = true;
        clearBody();
        QMetaObject::invokeMethod(this, &FetchJob::abort, Qt::QueuedConnection);
        return;
    }
    appendBody(chunk);
}

// The body is decoded as it comes, a chunk at a time: one conversion of a whole long body at the
// end would keep the window waiting.
void FetchJob::appendBody(const QByteArray& chunk)
{
    m_bytes += chunk.size();
    m_tail += chunk;
    const qsizetype cut = m_tail.size() - incompleteUtf8Tail(m_tail);
    decodeBody(QByteArrayView(m_tail).first(cut));
    m_tail.remove(0, cut);
}

void FetchJob::decodeBody(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return;
    // fromUtf8() drops a byte order mark at the start of what it is given; past the body's
    // first byte one is a character.
    if (m_decoded > 0 && bytes.startsWith("\xEF\xBB\xBF"))
        m_text += QChar(QChar::ByteOrderMark);
    m_text += QString::fromUtf8(bytes);
    m_decoded += bytes.size();
}

void FetchJob::clearBody()
{
    m_text = QString();
    m_tail = QByteArray();
    m_bytes = 0;
    m_decoded = 0;
}

void FetchJob::onReplyFinished()
{
    QNetworkReply* reply = m_reply;
    if (!reply || m_result.finished)
        return;
    if (reply->bytesAvailable() > 0)
        onReadyRead();
    m_reply = nullptr;
    disconnect(reply, nullptr, this, nullptr);
    reply->deleteLater();

    const QNetworkReply::NetworkError error = reply->error();
    if (m_overLimit)
        return finish(-1);
    if (m_redirecting && error == QNetworkReply::NoError) {
        const QUrl target = reply->url().resolved(QUrl::fromEncoded(reply->rawHeader("Location")));
        clearBody();
        if (++m_redirects > HttpFetcher::MaxRedirects)
            return finish(int(QNetworkReply::TooManyRedirectsError));
        if (!target.isValid() || target.host().isEmpty() || !isWebScheme(target.scheme()))
            return finish(int(QNetworkReply::ProtocolUnknownError));
        return get(target);
    }

    const QVariant code = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (code.isValid())
        m_result.status = code.toInt();
    if (error != QNetworkReply::NoError && !(code.isValid() && isHttpLevelError(error)))
        return finish(int(error));
    // Qt now and then reports a connection reset mid-body as a normal end.
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && !reply->hasRawHeader("Content-Encoding") &&
        m_bytes < length.toLongLong())
        return finish(int(QNetworkReply::RemoteHostClosedError));
    finish(0);
}

void FetchJob::abort()
{
    if (m_result.finished)
        return;
    if (QNetworkReply* reply = m_reply) {
        m_reply = nullptr;
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        reply->deleteLater();
    }
    finish(-1);
}

void FetchJob::failLater()
{
    QMetaObject::invokeMethod(this, &FetchJob::abort, Qt::QueuedConnection);
}

void FetchJob::finish(int error)
{
    if (m_result.finished)
        return;
    m_result.finished = true;
    m_result.error = error;
    if (error != -1) {
        decodeBody(m_tail); // a character cut short by the end of the body
        m_result.body = std::move(m_text);
    }
    clearBody();
    m_result.elapsedSeconds = int(m_clock.elapsed() / 1000);
    emit finished(m_result);
    deleteLater();
}

HttpFetcher::HttpFetcher(QObject* parent)
    : QObject(parent), m_direct(new QNetworkAccessManager(this))
{
    m_direct->setProxy(QNetworkProxy::NoProxy);
}

HttpFetcher::~HttpFetcher()
{
    // Jobs first: they still point at replies of the shared manager.
    const auto jobs = findChildren<FetchJob*>(Qt::FindDirectChildrenOnly);
    for (FetchJob* job : jobs)
        delete job;
}

FetchJob* HttpFetcher::start(const FetchRequest& request)
{
    auto* job = new FetchJob(this);
    const QUrl& url = request.url;
    if (!url.isValid() || url.host().isEmpty() || !isWebScheme(url.scheme())) {
        job->failLater();
        return job;
    }

    job->m_manager = m_direct;
    const QString proxyText = request.proxy.trimmed();
    if (!proxyText.isEmpty()) {
        QNetworkProxy proxy;
        if (!parseProxy(proxyText, &proxy)) {
            job->failLater();
            return job;
        }
        // A manager carries one proxy, so a proxied job brings its own.
        job->m_ownManager = std::make_unique<QNetworkAccessManager>();
        job->m_ownManager->setProxy(proxy);
        job->m_manager = job->m_ownManager.get();
    }
    job->get(url);

    if (request.timeoutSeconds > 0) {
        const qint64 ms = qMin<qint64>(qint64(request.timeoutSeconds) * 1000, INT_MAX);
        // A coarse timer may fire up to 5 % early and fail a proxy that is still in time.
        QTimer::singleShot(std::chrono::milliseconds(ms), Qt::PreciseTimer, job, &FetchJob::abort);
    }
    return job;
}
