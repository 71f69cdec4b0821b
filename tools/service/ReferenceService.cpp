#include "service/ReferenceService.h"

#include <QAbstractHttpServer>
#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaEnum>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>
#include <cctype>

namespace {

using StatusCode = QHttpServerResponder::StatusCode;

struct Reply
{
    StatusCode status = StatusCode::Ok;
    QByteArray contentType = "text/plain";
    QByteArray body;
    bool getOnly = false; // a 405 names GET in "Allow"
};

const char kAddressPrefix[] = "/ip/";

enum class Page { None, List, Gate, Echo, Region, MailList, Home, Address };

Page pageAt(const QString& path)
{
    static const QHash<QString, Page> pages = {
        {QStringLiteral("/ppx.php"), Page::List},
        {QStringLiteral("/gate.php"), Page::Gate},
        {QStringLiteral("/get"), Page::Echo},
        {QStringLiteral("/getregion.php"), Page::Region},
        {QStringLiteral("/maillist.php"), Page::MailList},
        {QStringLiteral("/"), Page::Home},
    };
    if (path.startsWith(QLatin1String(kAddressPrefix)))
        return Page::Address;
    return pages.value(path, Page::None);
}

Reply makeReply(StatusCode status, const QByteArray& contentType, const QByteArray& body)
{
    Reply reply;
    reply.status = status;
    reply.contentType = contentType;
    reply.body = body;
    return reply;
}

Reply errorReply(StatusCode status)
{
    // "NotFound" -> "404 Not Found"
    const char* name = QMetaEnum::fromType<StatusCode>().valueToKey(int(status));
    QByteArray text = QByteArray::number(int(status));
    for (const char* c = name ? name : "Error"; *c; ++c) {
        if (std::isupper(uchar(*c)))
            text += ' ';
        text += *c;
    }
    return makeReply(status, "text/plain", text + '\n');
}

bool sameName(const QByteArray& a, const char* b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// A proxy that adds any of these gives away that it is one, or whom it serves.
bool isRevealingHeader(const QByteArray& name)
{
    static const char* const revealing[] = {
        "Via",        "X-Forwarded-For",  "Forwarded",        "X-Real-IP",
        "Client-IP",  "X-Client-IP",      "X-Originating-IP", "True-Client-IP",
        "X-Proxy-ID", "Proxy-Connection", "X-Tinyproxy"};
    for (const char* candidate : revealing) {
        if (sameName(name, candidate))
            return true;
    }
    return false;
}

// The IPv4 and IPv6 addresses written anywhere in a header value ("for=10.1.2.3:80",
// "[2001:db8::1]:443"). A run of digits and dots glued to a word ("x10.1.2.3") or after a slash
// (a version, "Chrome/120.0.0.0", or a page's address in a URL) is no address.
QList<QHostAddress> addressesIn(const QByteArray& value)
{
    static const QRegularExpression ipv4(
        QStringLiteral(R"((?<![\w./])(?:\d{1,3}\.){3}\d{1,3}(?!\w|\.\d))"));
    static const QRegularExpression ipv6(
        QStringLiteral(R"((?<![\w.:])[0-9A-Fa-f.:]*:[0-9A-Fa-f.:]*:[0-9A-Fa-f.:]*(?![\w.:]))"));
    const QString text = QString::fromLatin1(value);
    QList<QHostAddress> addresses;
    for (const QRegularExpression* pattern : {&ipv4, &ipv6}) {
        for (const QRegularExpressionMatch& match : pattern->globalMatch(text)) {
            const QHostAddress address(match.captured());
            // A lone "::" is punctuation far more often than the all-zero address.
            if (!address.isNull() && address != QHostAddress(QHostAddress::AnyIPv6))
                addresses.append(address);
        }
    }
    return addresses;
}

// Any address but the caller's own in a header is somebody's the proxy passes on: the client's,
// its own or another hop's. Host names the server, whatever it holds.
bool holdsForeignAddress(const QByteArray& name, const QByteArray& value,
                         const QHostAddress& caller)
{
    if (sameName(name, "Host"))
        return false;
    const QList<QHostAddress> addresses = addressesIn(value);
    return std::any_of(addresses.cbegin(), addresses.cend(), [&caller](const QHostAddress& a) {
        return !a.isEqual(caller, QHostAddress::ConvertV4MappedToIPv4);
    });
}

QByteArray cgiName(const QByteArray& headerName)
{
    QByteArray name = headerName.toUpper();
    name.replace('-', '_');
    return "HTTP_" + name;
}

// Clients take "PROXY" anywhere in the gate page as the sign of an elite proxy, so echoed text
// must never spell it: the O of every "proxy", in any letter case, becomes a zero.
void defuseMarker(QByteArray& text)
{
    for (qsizetype i = 0; i + 5 <= text.size(); ++i) {
        if (qstrnicmp(text.constData() + i, "proxy", 5) == 0)
            text[i + 2] = '0';
    }
}

QString callerAddress(const QHttpServerRequest& request)
{
    const QHostAddress address = request.remoteAddress();
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    return isIPv4 ? QHostAddress(ipv4).toString() : address.toString();
}

QByteArray methodName(QHttpServerRequest::Method method)
{
    const char* name = QMetaEnum::fromType<QHttpServerRequest::Method>().valueToKey(int(method));
    return name ? QByteArray(name).toUpper() : QByteArray("UNKNOWN");
}

bool headerHasToken(const QHttpServerRequest& request, const char* header, const char* token)
{
    for (const auto& [name, value] : request.headers()) {
        if (!sameName(name, header))
            continue;
        for (const QByteArray& part : value.split(',')) {
            if (sameName(part.trimmed(), token))
                return true;
        }
    }
    return false;
}

// The parser lets an unreadable or contradictory Content-Length through, and then the request's
// end is anyone's guess.
bool hasBadContentLength(const QHttpServerRequest& request)
{
    QByteArray length;
    for (const auto& [name, value] : request.headers()) {
        if (!sameName(name, "Content-Length"))
            continue;
        const QByteArray digits = value.trimmed();
        const bool isNumber =
            !digits.isEmpty() && std::all_of(digits.cbegin(), digits.cend(),
                                             [](char c) { return c >= '0' && c <= '9'; });
        if (!isNumber || (!length.isNull() && length != digits))
            return true;
        length = digits;
    }
    return false;
}

bool readWholeFile(const QString& path, QByteArray* text, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    *text = file.readAll();
    return true;
}

QHash<QString, QString> parseRegions(const QByteArray& text)
{
    QHash<QString, QString> regions;
    for (const QByteArray& rawLine : text.split('\n')) {
        const QString line = QString::fromUtf8(rawLine);
        const qsizetype tab = line.indexOf(QLatin1Char('\t'));
        if (tab <= 0)
            continue;
        const QString proxy = line.left(tab).trimmed().toLower();
        if (!proxy.isEmpty())
            regions.insert(proxy, line.mid(tab + 1).trimmed());
    }
    return regions;
}

QString htmlPage(const QString& title, const QString& content)
{
    return QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%1</title>"
                          "</head>\n<body>\n%2</body></html>\n")
        .arg(title.toHtmlEscaped(), content);
}

Reply listPage(const QHttpServerRequest& request, const QByteArray& listBody)
{
    const QUrlQuery query = request.query();
    if (query.queryItemValue(QStringLiteral("M")) != QLatin1String("L") ||
        query.queryItemValue(QStringLiteral("P")) != QLatin1String("C") ||
        query.queryItemValue(QStringLiteral("V")) != QLatin1String("2"))
        return errorReply(StatusCode::BadRequest);
    return makeReply(StatusCode::Ok, "text/html", listBody);
}

Reply gatePage(const QHttpServerRequest& request)
{
    QByteArray body;
    const auto addLine = [&body](const QByteArray& name, const QByteArray& value) {
        body += name + '=' + value + '\n';
    };
    addLine("GATEWAY_INTERFACE", "CGI/1.1");
    // The parser does not report the request's version; this is the one we answer in.
    addLine("SERVER_PROTOCOL", "HTTP/1.1");
    addLine("REQUEST_METHOD", methodName(request.method()));
    addLine("REMOTE_ADDR", callerAddress(request).toUtf8());
    // The query as sent, but for what the parser's QUrl normalises: escaped letters, digits and
    // "-._~" come back plain, bytes past ASCII come back escaped.
    const QUrl url = request.url();
    const QByteArray query = url.query(QUrl::FullyEncoded).toUtf8();
    addLine("QUERY_STRING", query);
    addLine("REQUEST_URI",
            url.path(QUrl::FullyEncoded).toUtf8() + (query.isEmpty() ? "" : "?" + query));

    QByteArrayList revealing;
    for (const auto& [name, value] : request.headers()) {
        addLine(cgiName(name), value);
        if (isRevealingHeader(name) || holdsForeignAddress(name, value, request.remoteAddress()))
            revealing.append(cgiName(name));
    }
    if (!revealing.isEmpty())
        addLine("ANONYMITY", "REVEALED BY " + revealing.join(' '));
    defuseMarker(body);
    if (revealing.isEmpty())
        addLine("ANONYMITY", "ELITE PROXY");
    return makeReply(StatusCode::Ok, "text/plain", body);
}

// "x-forwarded-for" -> "X-Forwarded-For", as echo pages of this kind name headers.
QString canonicalHeaderName(const QByteArray& name)
{
    QString out = QString::fromLatin1(name).toLower();
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (i == 0 || out[i - 1] == u'-')
            out[i] = out[i].toUpper();
    }
    return out;
}

// Adds value under key; a key given again gathers its values in an array.
void addJsonItem(QJsonObject& object, const QString& key, const QString& value)
{
    const QJsonValue earlier = object.value(key);
    if (earlier.isUndefined()) {
        object.insert(key, value);
        return;
    }
    QJsonArray values = earlier.isArray() ? earlier.toArray() : QJsonArray{earlier};
    values.append(value);
    object.insert(key, values);
}

// The JSON echo: the query items, every request header, the caller's address and the URL.
Reply echoPage(const QHttpServerRequest& request)
{
    QJsonObject args;
    for (const auto& [key, value] : request.query().queryItems(QUrl::FullyDecoded))
        addJsonItem(args, key, value);
    // A header sent twice is one header whose values are joined by commas.
    QJsonObject headers;
    for (const auto& [name, value] : request.headers()) {
        const QString key = canonicalHeaderName(name);
        const QString text = QString::fromLatin1(value);
        const QString earlier = headers.value(key).toString();
        headers.insert(key, headers.contains(key) ? earlier + QStringLiteral(", ") + text : text);
    }
    QJsonObject echo;
    echo.insert(QStringLiteral("args"), args);
    echo.insert(QStringLiteral("headers"), headers);
    echo.insert(QStringLiteral("origin"), callerAddress(request));
    // The parser gives a URL in absolute form without a port the port 0, which nobody sent.
    QUrl url = request.url();
    if (url.port() == 0)
        url.setPort(-1);
    echo.insert(QStringLiteral("url"), url.toString(QUrl::FullyEncoded));
    return makeReply(StatusCode::Ok, "application/json",
                     QJsonDocument(echo).toJson(QJsonDocument::Compact));
}

Reply regionPage(const QHttpServerRequest& request, const QHash<QString, QString>& regions)
{
    const QUrlQuery query = request.query();
    const QString key = QStringLiteral("P");
    if (!query.hasQueryItem(key))
        return errorReply(StatusCode::BadRequest);
    const QString proxy = query.queryItemValue(key, QUrl::FullyDecoded).trimmed().toLower();
    return makeReply(StatusCode::Ok, "text/plain", regions.value(proxy).toUtf8());
}

Reply mailListPage(const QHttpServerRequest& request, const QString& mailListFile)
{
    const QString address =
        request.query().queryItemValue(QStringLiteral("email"), QUrl::FullyDecoded);
    // One address per line: a line break inside one would forge another entry.
    const bool hasControl = std::any_of(address.cbegin(), address.cend(), [](QChar c) {
        return c.unicode() < 0x20 || c.unicode() == 0x7f;
    });
    if (address.trimmed().isEmpty() || hasControl)
        return errorReply(StatusCode::BadRequest);

    if (!mailListFile.isEmpty()) {
        QFile file(mailListFile);
        const QByteArray line = address.toUtf8() + '\n';
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(line) != line.size())
            return errorReply(StatusCode::InternalServerError);
    }
    return makeReply(StatusCode::Ok, "text/plain", "OK");
}

Reply homePage(const QHttpServerRequest& request)
{
    const QString address = callerAddress(request).toHtmlEscaped();
    const QString content =
        QStringLiteral("<p>Your address: <a href=\"/ip/%1\">%1</a></p>\n").arg(address);
    return makeReply(StatusCode::Ok, "text/html; charset=utf-8",
                     htmlPage(QStringLiteral("Your address"), content).toUtf8());
}

Reply addressPage(const QString& address, const QHash<QString, QString>& regions)
{
    QStringList known;
    const QString prefix = address.toLower() + QLatin1Char(':');
    for (auto it = regions.cbegin(); it != regions.cend(); ++it) {
        if (it.key().startsWith(prefix))
            known.append(QStringLiteral("<li>%1: %2</li>\n")
                             .arg(it.key().toHtmlEscaped(), it.value().toHtmlEscaped()));
    }
    known.sort();
    QString content = QStringLiteral("<h1>%1</h1>\n").arg(address.toHtmlEscaped());
    content += known.isEmpty() ? QStringLiteral("<p>No proxy known at this address.</p>\n")
                               : QStringLiteral("<ul>\n%1</ul>\n").arg(known.join(QString()));
    return makeReply(StatusCode::Ok, "text/html; charset=utf-8",
                     htmlPage(address, content).toUtf8());
}

} // namespace

// QHttpServer hides the connection from its handlers; this server hands it to serve(), so that a
// request asking for "Connection: close" gets its connection closed after the answer.
// QAbstractHttpServer would keep it open, and an HTTP/1.0 proxy (tinyproxy) forwarding to us
// would then wait for its own time-out before it could tell its client the answer is complete.
class ReferenceService::HttpServer final : public QAbstractHttpServer
{
public:
    explicit HttpServer(ReferenceService& owner) : m_owner(owner) {}

    using QAbstractHttpServer::makeResponder;

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override
    {
        m_owner.serve(request, socket);
        return true;
    }

    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override
    {
        m_owner.serve(request, socket);
    }

private:
    ReferenceService& m_owner;
};

ReferenceService::ReferenceService(QObject* parent) : QObject(parent) {}

ReferenceService::~ReferenceService() = default;

bool ReferenceService::start(const Options& options)
{
    m_server.reset();
    m_port = 0;
    m_error.clear();
    m_counts.clear();

    QByteArray listText;
    QByteArray regionsText;
    if (!options.listFile.isEmpty() && !readWholeFile(options.listFile, &listText, &m_error))
        return false;
    if (!options.regionsFile.isEmpty() &&
        !readWholeFile(options.regionsFile, &regionsText, &m_error))
        return false;
    if (!options.mailListFile.isEmpty()) {
        QFile mailList(options.mailListFile);
        if (!mailList.open(QIODevice::WriteOnly | QIODevice::Append)) {
            m_error = QStringLiteral("cannot write %1: %2")
                          .arg(options.mailListFile, mailList.errorString());
            return false;
        }
    }

    auto server = std::make_unique<HttpServer>(*this);
    auto* tcpServer = new QTcpServer(server.get());
    if (!tcpServer->listen(options.bind, options.port)) {
        m_error = QStringLiteral("cannot listen on %1 port %2: %3")
                      .arg(options.bind.toString())
                      .arg(options.port)
                      .arg(tcpServer->errorString());
        return false;
    }
    server->bind(tcpServer);

    m_server = std::move(server);
    m_bind = options.bind;
    m_port = tcpServer->serverPort();
    if (!options.listFile.isEmpty())
        m_listBody = listBodyFromText(listText);
    m_regions = parseRegions(regionsText);
    m_mailListFile = options.mailListFile;
    return true;
}

QString ReferenceService::baseUrl() const
{
    QHostAddress host = m_bind;
    // A wildcard address is where we listen, not an address anyone can connect to.
    if (host == QHostAddress::Any || host == QHostAddress::AnyIPv4 || host == QHostAddress::AnyIPv6)
        host = QHostAddress::LocalHost;
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(host.toString());
    url.setPort(m_port);
    return url.toString();
}

void ReferenceService::setListBody(const QByteArray& body)
{
    m_listBody = body;
}

int ReferenceService::requestCount(const QString& path) const
{
    return m_counts.value(path);
}

QByteArray ReferenceService::listBodyFromText(const QByteArray& text)
{
    static const char separator[] = "<BR>";
    QByteArray body;
    body.reserve(text.size() + text.count('\n') * (sizeof separator - 1) + sizeof separator);
    const char* data = text.constData();
    const qsizetype size = text.size();
    qsizetype begin = 0;
    while (begin < size) {
        qsizetype end = begin;
        while (end < size && data[end] != '\n' && data[end] != '\r')
            ++end;
        if (end > begin) {
            body.append(data + begin, end - begin);
            body.append(separator);
        }
        begin = end + 1;
    }
    return body;
}

void ReferenceService::serve(const QHttpServerRequest& request, QTcpSocket* socket)
{
    const QString path = request.url().path();
    ++m_counts[path];

    const Page page = pageAt(path);
    bool close = headerHasToken(request, "Connection", "close");
    Reply reply;
    if (hasBadContentLength(request)) {
        reply = errorReply(StatusCode::BadRequest);
        close = true;
    } else if (page == Page::None) {
        reply = errorReply(StatusCode::NotFound);
    } else if (request.method() != QHttpServerRequest::Method::Get) {
        reply = errorReply(StatusCode::MethodNotAllowed);
        reply.getOnly = true;
    } else {
        switch (page) {
        case Page::List:
            reply = listPage(request, m_listBody);
            break;
        case Page::Gate:
            reply = gatePage(request);
            break;
        case Page::Echo:
            reply = echoPage(request);
            break;
        case Page::Region:
            reply = regionPage(request, m_regions);
            break;
        case Page::MailList:
            reply = mailListPage(request, m_mailListFile);
            break;
        case Page::Home:
            reply = homePage(request);
            break;
        case Page::Address:
            reply = addressPage(path.mid(sizeof kAddressPrefix - 1), m_regions);
            break;
        case Page::None:
            break;
        }
    }

    {
        QHttpServerResponder responder = HttpServer::makeResponder(request, socket);
        responder.writeStatusLine(reply.status);
        responder.writeHeader("Content-Type", reply.contentType);
        responder.writeHeader("Content-Length", QByteArray::number(reply.body.size()));
        if (reply.getOnly)
            responder.writeHeader("Allow", "GET");
        if (close)
            responder.writeHeader("Connection", "close");
        responder.writeBody(reply.body);
    }
    if (close)
        socket->disconnectFromHost();
}
