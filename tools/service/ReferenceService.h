#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <memory>

class QHttpServerRequest;
class QTcpSocket;

// A stand-in for the proxy-list web service, for tests, benchmarks and first runs:
//   /ppx.php?M=L&P=C&V=2   the list file, lines separated by "<BR>"
//   /gate.php              the CGI variables of the request it received
//   /get                   the same as a JSON object: "args", "headers", "origin", "url"
//   /getregion.php?P=...   the location of a proxy from the regions file, "" when unknown
//   /maillist.php?email=.. appends the address to the mailing-list file, answers "OK"
//   /                      a page with a link "/ip/<caller's address>"
//   /ip/<address>          a small page about that address
// Requests it cannot make sense of get 400, unknown pages 404, methods other than GET 405.
// It also answers requests sent to it as an HTTP proxy ("GET http://host/gate.php"), routed
// by the URL's path, so it can stand in for a working proxy too.
class ReferenceService final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReferenceService)

public:
    struct Options
    {
        QHostAddress bind = QHostAddress::LocalHost;
        quint16 port = 0;     // 0: any free port
        QString listFile;     // service list lines, one per line, sent joined by "<BR>"
        QString regionsFile;  // "address:port<TAB>location" per line; optional
        QString mailListFile; // where sign-ups are appended; optional
    };

    explicit ReferenceService(QObject* parent = nullptr);
    ~ReferenceService() override;

    // Loads the data files and starts listening; false with errorString() set on failure.
    bool start(const Options& options);
    quint16 port() const { return m_port; }
    QString baseUrl() const; // "http://<bind>:<port>", no trailing "/"
    QString errorString() const { return m_error; }

    // Replaces the list body served by /ppx.php (the raw body, "<BR>" separators included).
    void setListBody(const QByteArray& body);
    QByteArray listBody() const { return m_listBody; }
    // Number of requests served to each page since start, for tests.
    int requestCount(const QString& path) const;

    // The list body for the text of a list file: every non-empty line (ended by LF, CR LF or CR,
    // or by the end of the text) followed by "<BR>".
    static QByteArray listBodyFromText(const QByteArray& text);

private:
    class HttpServer;

    void serve(const QHttpServerRequest& request, QTcpSocket* socket);

    std::unique_ptr<HttpServer> m_server;
    QHostAddress m_bind;
    quint16 m_port = 0;
    QString m_error;
    QByteArray m_listBody;
    QHash<QString, QString> m_regions;
    QString m_mailListFile;
    QHash<QString, int> m_counts;
};
