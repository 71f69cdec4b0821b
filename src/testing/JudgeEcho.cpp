#include "testing/JudgeEcho.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QRandomGenerator>
#include <QStringView>
#include <QUrl>

#include <algorithm>
#include <cctype>
#include <initializer_list>

namespace JudgeEcho {

namespace {

// A real request has a few dozen headers. An answer listing millions would only cost memory and
// time; the first ones decide anyway.
constexpr int MaxHeaders = 1000;

const QString Transparent = QStringLiteral("Transparent proxy");
const QString Anonymous = QStringLiteral("Anonymous proxy");
const QString Elite = QStringLiteral("High anonymous / Elite proxy");

bool isOneOf(QStringView name, std::initializer_list<const char*> names)
{
    return std::any_of(names.begin(), names.end(), [name](const char* candidate) {
        return name.compare(QLatin1String(candidate), Qt::CaseInsensitive) == 0;
    });
}

// The headers our own request carries. Host names the judge, which may be written as an address
// that is neither the user's nor the exit's; the others hold no address unless we put one there.
// Connection, Content-Length and the Accept-* variants count as added: they never hold an
// address, so counting them changes nothing unless a proxy writes one into them.
bool isOwnHeader(QStringView name)
{
    return isOneOf(name, {"Host", "User-Agent", "Accept"});
}

// A proxy that adds any of these gives away that it is one, or whom it serves.
bool isRevealingHeader(QStringView name)
{
    return isOneOf(name, {"Via", "X-Forwarded-For", "Forwarded", "X-Real-IP", "Client-IP",
                          "X-Client-IP", "X-Originating-IP", "True-Client-IP", "X-Proxy-ID",
                          "Proxy-Connection", "X-Tinyproxy"});
}

// "x-forwarded-for" and "X_FORWARDED_FOR" -> "X-Forwarded-For".
QString canonicalName(QStringView name)
{
    QString out;
    out.reserve(name.size());
    bool start = true;
    for (QChar c : name) {
        if (c == u'_' || c == u'-') {
            out += u'-';
            start = true;
            continue;
        }
        out += start ? c.toUpper() : c.toLower();
        start = false;
    }
    return out;
}

// ---- addresses in header values ---------------------------------------------------------------

bool isSeparator(QChar c)
{
    switch (c.unicode()) {
    case ',':
    case ';':
    case '=':
    case '"':
    case '\'':
    case '(':
    case ')':
    case '[':
    case ']':
    case '<':
    case '>':
    case '{':
    case '}':
    case '|':
    case '\\':
        return true;
    default:
        return c.isSpace();
    }
}

// Four dotted decimal parts of at most three digits and 255; nothing else ("1.1", "1.2.3.4.5").
bool parseIPv4(QStringView text, quint32* address)
{
    quint32 value = 0;
    int parts = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        int part = 0;
        int digits = 0;
        while (i < text.size() && text[i].isDigit() && text[i].unicode() < 128 && digits < 4) {
            part = part * 10 + (text[i].unicode() - '0');
            ++digits;
            ++i;
        }
        if (digits == 0 || digits > 3 || part > 255)
            return false;
        value = (value << 8) | quint32(part);
        ++parts;
        if (i == text.size())
            break;
        if (text[i] != u'.' || parts == 4)
            return false;
        ++i;
        if (i == text.size())
            return false;
    }
    if (parts != 4)
        return false;
    *address = value;
    return true;
}

// An IPv4 or IPv6 address written as one token, a port after an IPv4 one allowed.
bool tokenAddress(QStringView token, QHostAddress* address)
{
    const qsizetype colons = token.count(u':');
    if (colons == 1) // "10.0.0.1:3128"
        token = token.first(token.indexOf(u':'));
    quint32 ipv4 = 0;
    if (colons <= 1)
        return parseIPv4(token, &ipv4) ? (address->setAddress(ipv4), true) : false;
    // The longest IPv6 text, "ffff:...:ffff:255.255.255.255", has 45 characters.
    if (token.size() > 45)
        return false;
    const bool plausible = std::all_of(token.begin(), token.end(), [](QChar c) {
        return c.unicode() < 128 && (std::isxdigit(c.unicode()) || c == u':' || c == u'.');
    });
    if (!plausible || !address->setAddress(token.toString()))
        return false;
    // A lone "::" is punctuation far more often than the all-zero address.
    return *address != QHostAddress(QHostAddress::AnyIPv6);
}

// Calls found(address) for every address token of text until it returns true; whether one did.
template <typename Found> bool anyAddress(QStringView text, Found found)
{
    qsizetype i = 0;
    while (i < text.size()) {
        while (i < text.size() && isSeparator(text[i]))
            ++i;
        const qsizetype begin = i;
        while (i < text.size() && !isSeparator(text[i]))
            ++i;
        QHostAddress address;
        if (i > begin && tokenAddress(text.sliced(begin, i - begin), &address) && found(address))
            return true;
    }
    return false;
}

bool sameAddress(const QHostAddress& a, const QHostAddress& b)
{
    return !a.isNull() && !b.isNull() && a.isEqual(b, QHostAddress::ConvertV4MappedToIPv4);
}

QHostAddress addressOf(const QString& text)
{
    QHostAddress address;
    return tokenAddress(QStringView(text).trimmed(), &address) ? address : QHostAddress();
}

QStringList originParts(const QString& origin)
{
    QStringList parts;
    for (QStringView part : QStringView(origin).split(u',')) {
        part = part.trimmed();
        if (!part.isEmpty())
            parts << part.toString();
    }
    return parts;
}

// ---- the CGI echo -----------------------------------------------------------------------------

// Tags that end a line of text: a page wrapping its lines in HTML puts one of these between them.
bool breaksLine(QStringView tag)
{
    return isOneOf(tag, {"br", "p",  "div", "tr", "li", "pre", "table", "dt",   "dd",   "hr",
                         "h1", "h2", "h3",  "h4", "h5", "h6",  "body",  "html", "head", "title"});
}

QChar entity(QStringView name)
{
    static const struct
    {
        const char* name;
        char16_t c;
    } named[] = {{"amp", u'&'},  {"lt", u'<'},    {"gt", u'>'},
                 {"quot", u'"'}, {"apos", u'\''}, {"nbsp", u' '}};
    for (const auto& n : named) {
        if (name == QLatin1String(n.name))
            return QChar(n.c);
    }
    if (name.size() > 1 && name[0] == u'#') {
        bool ok = false;
        const uint code = name[1] == u'x' || name[1] == u'X' ? name.sliced(2).toUInt(&ok, 16)
                                                             : name.sliced(1).toUInt(&ok, 10);
        if (ok && code > 0 && code < 0xD800)
            return QChar(char16_t(code));
    }
    return QChar();
}

// The text of an HTML page, one line per line-breaking tag, other tags dropped, the common
// entities decoded. Every character is looked at a bounded number of times.
QString htmlText(QStringView html)
{
    QString out;
    out.reserve(html.size());
    qsizetype i = 0;
    while (i < html.size()) {
        const QChar c = html[i];
        if (c == u'<' && i + 1 < html.size() &&
            (html[i + 1].isLetter() || html[i + 1] == u'/' || html[i + 1] == u'!')) {
            const qsizetype end = html.indexOf(u'>', i + 1);
            if (end < 0) { // no tag closes from here on: the rest is text
                out += html.sliced(i);
                break;
            }
            qsizetype nameBegin = i + 1;
            if (html[nameBegin] == u'/')
                ++nameBegin;
            qsizetype nameEnd = nameBegin;
            while (nameEnd < end && html[nameEnd].isLetterOrNumber())
                ++nameEnd;
            if (breaksLine(html.sliced(nameBegin, nameEnd - nameBegin)))
                out += u'\n';
            i = end + 1;
            continue;
        }
        if (c == u'&') {
            const qsizetype end =
                html.sliced(i, std::min<qsizetype>(12, html.size() - i)).indexOf(u';');
            const QChar decoded = end > 1 ? entity(html.sliced(i + 1, end - 1)) : QChar();
            if (!decoded.isNull()) {
                out += decoded;
                i += end + 1;
                continue;
            }
        }
        out += c;
        ++i;
    }
    return out;
}

// A page is taken as HTML when it starts with a tag or breaks lines with <br>; the service's
// gate page is plain text and keeps any "<" a header value holds.
bool looksLikeHtml(QStringView text)
{
    const QStringView start = text.trimmed();
    return start.startsWith(u'<') || text.contains(QLatin1String("<br"), Qt::CaseInsensitive);
}

bool isVariableName(QStringView name)
{
    if (name.isEmpty() || name.size() > 256 || name[0].isDigit())
        return false;
    return std::all_of(name.begin(), name.end(), [](QChar c) {
        return c.unicode() < 128 && (std::isalnum(c.unicode()) || c == u'_');
    });
}

Report parseCgi(const QByteArray& body)
{
    Report report;
    QString text = QString::fromUtf8(body);
    if (looksLikeHtml(text))
        text = htmlText(text);

    bool recognised = false;
    bool haveAddress = false, haveQuery = false, haveUri = false;
    const QStringView all(text);
    qsizetype begin = 0;
    while (begin < all.size()) {
        qsizetype end = begin;
        while (end < all.size() && all[end] != u'\n' && all[end] != u'\r')
            ++end;
        const QStringView line = all.sliced(begin, end - begin).trimmed();
        begin = end + 1;

        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0)
            continue;
        const QStringView name = line.first(eq).trimmed();
        if (!isVariableName(name))
            continue;
        const QString upper = name.toString().toUpper();
        const QString value = line.sliced(eq + 1).trimmed().toString();
        // The first of a repeated variable counts: a header cannot forge the ones before it.
        if (upper == QLatin1String("REMOTE_ADDR")) {
            if (!haveAddress)
                report.remoteAddr = value;
            haveAddress = recognised = true;
        } else if (upper == QLatin1String("QUERY_STRING")) {
            if (!haveQuery)
                report.queryString = value;
            haveQuery = recognised = true;
        } else if (upper == QLatin1String("REQUEST_URI")) {
            if (!haveUri)
                report.requestUri = value;
            haveUri = recognised = true;
        } else if (upper == QLatin1String("GATEWAY_INTERFACE")) {
            report.gatewayInterface = recognised = true;
        } else if (upper.startsWith(QLatin1String("HTTP_")) && upper.size() > 5) {
            recognised = true;
            if (report.headers.size() < MaxHeaders)
                report.headers.append({canonicalName(QStringView(upper).sliced(5)), value});
        }
    }
    if (!recognised) {
        Report none;
        none.error = body.trimmed().isEmpty()
                         ? QStringLiteral("the judge's answer is empty")
                         : QStringLiteral("the judge's answer is no CGI or JSON echo");
        return none;
    }
    report.kind = Kind::Cgi;
    return report;
}

// ---- the JSON echo ----------------------------------------------------------------------------

QString jsonText(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Double:
    case QJsonValue::Bool:
        return value.toVariant().toString();
    case QJsonValue::Array: { // a header sent more than once, as some pages list it
        QStringList parts;
        for (const QJsonValue& part : value.toArray())
            parts << jsonText(part);
        return parts.join(QLatin1String(", "));
    }
    default:
        return QString();
    }
}

Report parseJson(const QByteArray& body)
{
    Report report;
    QJsonParseError problem{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &problem);
    if (problem.error != QJsonParseError::NoError) {
        report.error = QStringLiteral("the judge's answer is not JSON");
        return report;
    }
    if (!document.isObject()) {
        report.error = QStringLiteral("the judge's JSON is not an object");
        return report;
    }
    const QJsonObject object = document.object();
    const QJsonValue headers = object.value(QLatin1String("headers"));
    if (!headers.isObject()) {
        report.error = QStringLiteral("the judge's JSON has no headers");
        return report;
    }
    const QJsonObject headerObject = headers.toObject();
    for (auto it = headerObject.begin();
         it != headerObject.end() && report.headers.size() < MaxHeaders; ++it)
        report.headers.append({canonicalName(it.key()), jsonText(it.value())});

    report.kind = Kind::Json;
    report.origin = object.value(QLatin1String("origin")).toString();
    const QStringList origins = originParts(report.origin);
    if (!origins.isEmpty())
        report.remoteAddr = origins.last();
    const QJsonValue args = object.value(QLatin1String("args"));
    if (args.isObject())
        report.args =
            QString::fromUtf8(QJsonDocument(args.toObject()).toJson(QJsonDocument::Compact));
    report.url = object.value(QLatin1String("url")).toString();
    return report;
}

// The token is one of the query's names or values. The text alone could be fooled by an escape
// ("\u0030" ends in a digit); hex digits are never escaped, so text without it holds none.
bool argsHold(const QString& args, const QString& token)
{
    if (!args.contains(token))
        return false;
    const QJsonObject object = QJsonDocument::fromJson(args.toUtf8()).object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (it.key().contains(token) || jsonText(it.value()).contains(token))
            return true;
    }
    return false;
}

} // namespace

Report parse(const QByteArray& body)
{
    QByteArray text = body;
    if (text.startsWith("\xEF\xBB\xBF"))
        text.remove(0, 3);
    qsizetype first = 0;
    while (first < text.size() && std::isspace(uchar(text[first])))
        ++first;
    const bool json = first < text.size() && (text[first] == '{' || text[first] == '[');
    Report report = json ? parseJson(text) : parseCgi(text);
    report.proxyMarker = body.contains("PROXY");
    return report;
}

QString newToken()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    QString token;
    for (quint32 word : words)
        token += QStringLiteral("%1").arg(word, 8, 16, QLatin1Char('0'));
    return token;
}

QString withToken(const QString& url, const QString& token)
{
    // Appended to the query as written, so the judge sees the rest of it byte for byte; QUrl
    // keeps a fragment after the query, where it belongs.
    QUrl address(url);
    const QString item = QStringLiteral("corvatel=") + token;
    const QString query = address.query(QUrl::FullyEncoded);
    address.setQuery(query.isEmpty() ? item : query + u'&' + item, QUrl::TolerantMode);
    return address.toString(QUrl::FullyEncoded);
}

bool passed(const Report& report, int status, const QString& token, bool serviceGate)
{
    // Without a token nothing shows that this request, and not some cached answer, got through.
    if (status != 200 || report.kind == Kind::Unknown || token.isEmpty())
        return false;
    if (serviceGate && !report.gatewayInterface)
        return false;
    if (report.kind == Kind::Cgi)
        return report.queryString.contains(token) || report.requestUri.contains(token);
    return argsHold(report.args, token) || report.url.contains(token);
}

QString anonymityClass(const Report& report, const QString& userAddress, bool serviceGate)
{
    const QHostAddress user = addressOf(userAddress);
    const QHostAddress exit = addressOf(report.remoteAddr);
    const QStringList origins = originParts(report.origin);

    if (!user.isNull()) {
        const auto isUser = [&user](const QHostAddress& a) { return sameAddress(a, user); };
        for (const auto& [name, value] : report.headers) {
            if (!isOwnHeader(name) && anyAddress(value, isUser))
                return Transparent;
        }
        for (qsizetype i = 0; i + 1 < origins.size(); ++i) {
            if (sameAddress(addressOf(origins[i]), user))
                return Transparent;
        }
    }
    if (serviceGate)
        return report.proxyMarker ? Elite : Anonymous;

    const auto isOther = [&exit](const QHostAddress& a) { return !sameAddress(a, exit); };
    for (const auto& [name, value] : report.headers) {
        if (isRevealingHeader(name) || (!isOwnHeader(name) && anyAddress(value, isOther)))
            return Anonymous;
    }
    // An origin listing more than the exit came from a forwarding header the page hides.
    for (const QString& part : origins) {
        const QHostAddress address = addressOf(part);
        if (!address.isNull() && isOther(address))
            return Anonymous;
    }
    return Elite;
}

DirectCheck checkDirect(const QString& transportError, int status, const QByteArray& body,
                        const QString& token, bool serviceGate)
{
    DirectCheck check;
    if (!transportError.isEmpty()) {
        check.failure = transportError;
        return check;
    }
    if (status != 200) {
        check.failure = QStringLiteral("answered with status %1").arg(status);
        return check;
    }
    const Report report = parse(body);
    if (report.kind == Kind::Unknown)
        check.failure = report.error;
    else if (!passed(report, status, token, serviceGate))
        check.failure = QStringLiteral("its answer does not echo the request");
    else
        check.works = true;
    check.userAddress = check.works ? report.remoteAddr : QString();
    return check;
}

} // namespace JudgeEcho
