#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// What an echo page (a "judge") says about the request it received. Two kinds of body are
// understood: the CGI echo ("NAME=value" or "NAME = value" lines, HTTP_* variables for the
// headers, as the service's gate page prints them) and the JSON echo (an object with "headers",
// "origin" and, where the page gives them, "args" and "url").
namespace JudgeEcho {

enum class Kind { Unknown, Cgi, Json };

struct Report
{
    Kind kind = Kind::Unknown;
    QString error;       // why the body is no echo of either kind; "" when it is one
    QString queryString; // CGI: QUERY_STRING
    QString requestUri;  // CGI: REQUEST_URI
    QString args;        // JSON: the "args" object as compact text
    QString url;         // JSON: "url"
    // The caller as the judge saw it: CGI REMOTE_ADDR, JSON the last address of "origin".
    QString remoteAddr;
    QString origin; // JSON: "origin" as given (may list several addresses)
    // Request headers, names in canonical "Header-Name" form.
    QList<QPair<QString, QString>> headers;
    bool gatewayInterface = false; // a GATEWAY_INTERFACE line
    // The text "PROXY" anywhere in the body (the service gate's marker).
    bool proxyMarker = false;
};

// Parses a body of either kind. A body that is neither gives kind Unknown and an error.
Report parse(const QByteArray& body);

// A fresh random token for one request: 32 lower-case hex digits.
QString newToken();
// url with the token added to its query ("corvatel=<token>").
QString withToken(const QString& url, const QString& token);

// The request went through: status 200, the body is an echo, and the token is in QUERY_STRING or
// REQUEST_URI (CGI) or in "args" or "url" (JSON). serviceGate also needs a GATEWAY_INTERFACE line.
bool passed(const Report& report, int status, const QString& token, bool serviceGate);

// The anonymity class of a proxy whose request passed:
// - "Transparent proxy" when a header the proxy added (not Host, User-Agent, Accept) carries
//   userAddress, or, for a JSON echo, "origin" lists userAddress beside the exit address;
// - else for the service gate: "High anonymous / Elite proxy" when the body holds "PROXY",
//   "Anonymous proxy" otherwise;
// - else for other judges: "Anonymous proxy" when a revealing header is there (Via,
//   X-Forwarded-For, Forwarded, X-Real-IP, Client-IP, X-Client-IP, X-Originating-IP,
//   True-Client-IP, X-Proxy-ID, Proxy-Connection, X-Tinyproxy) or an added header holds an IP
//   address other than the exit address; "High anonymous / Elite proxy" otherwise.
// An empty userAddress is never found.
QString anonymityClass(const Report& report, const QString& userAddress, bool serviceGate);

// What a direct fetch of a judge showed: whether it works, the user's own address as it saw it,
// and, when it does not work, why ("answered with status 404", the parser's error...).
struct DirectCheck
{
    bool works = false;
    QString userAddress;
    QString failure;
};
// transportError is "" when an HTTP answer came (status and body are then that answer).
DirectCheck checkDirect(const QString& transportError, int status, const QByteArray& body,
                        const QString& token, bool serviceGate);

} // namespace JudgeEcho
