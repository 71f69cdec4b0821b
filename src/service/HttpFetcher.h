#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

struct FetchRequest
{
    QUrl url;
    QString proxy;          // "host:port" of an HTTP proxy, "socks=host:port"; empty = direct
    int timeoutSeconds = 0; // > 0: the job ends itself with error -1 after this long (backstop)
};

struct FetchResult
{
    int status = -1;        // HTTP status; -1 until a response started
    int error = 0;          // 0, the transport's error number, or -1 (time-out, over-size, abort)
    QString body;           // the response text, whatever the status
    int elapsedSeconds = 0; // whole seconds from start to end
    bool finished = false;
};

// One GET in flight. Emits responseStarted once the status is known and finished exactly once.
class FetchJob final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FetchJob)

public:
    ~FetchJob() override;

    const FetchResult& result() const { return m_result; }
    bool isFinished() const { return m_result.finished; }
    // Cancels the transfer; finished() follows at once with error -1 unless the job had already
    // ended.
    void abort();

signals:
    void responseStarted(int status);
    void finished(const FetchResult& result);

private:
    friend class HttpFetcher;
    explicit FetchJob(QObject* parent);
    void get(const QUrl& url);
    void onMetaData();
    void onReadyRead();
    void onReplyFinished();
    void failLater(); // ends the job with -1 from the event loop, never inside start()
    void finish(int error);
    void appendBody(const QByteArray& chunk);
    void decodeBody(QByteArrayView bytes);
    void clearBody();

    FetchResult m_result;
    QString m_text;       // the body so far, decoded
    QByteArray m_tail;    // the start of a character whose other bytes are still to come
    qint64 m_bytes = 0;   // bytes of the body so far
    qint64 m_decoded = 0; // of which in m_text
    QPointer<QNetworkReply> m_reply;
    QNetworkAccessManager* m_manager = nullptr;
    QElapsedTimer m_clock;
    int m_redirects = 0;
    bool m_redirecting = false; // the current reply is a redirect that will be followed
    bool m_overLimit = false;
    std::unique_ptr<QNetworkAccessManager> m_ownManager; // for a request through a named proxy
};

// The program's HTTP client: GET only, a named HTTP proxy per request, up to MaxRedirects
// redirects followed (HTTPS to HTTP included), certificate checks on, a fixed user agent and a
// 32 MiB body limit. Many jobs may run at once.
class HttpFetcher final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HttpFetcher)

public:
    static constexpr qint64 MaxBodyBytes = qint64(32) * 1024 * 1024;
    static constexpr int MaxRedirects = 50;
    static const char UserAgent[];

    explicit HttpFetcher(QObject* parent = nullptr);
    ~HttpFetcher() override;

    // The job belongs to the fetcher and deletes itself some time after finished().
    FetchJob* start(const FetchRequest& request);

private:
    QNetworkAccessManager* m_direct = nullptr;
};
