#include "model/ProxyEndpoint.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace {

// A name whose last label is all digits is a damaged address ("1.2.3.999"), not a name.
bool isHostName(const QString& host)
{
    static const QRegularExpression label(
        QStringLiteral(R"(^[A-Za-z0-9](?:[A-Za-z0-9-]{0,61}[A-Za-z0-9])?$)"));
    if (host.isEmpty() || host.size() > 253)
        return false;
    const QStringList labels = host.split(u'.');
    for (const QString& part : labels) {
        if (!label.match(part).hasMatch())
            return false;
    }
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    return !digits.match(labels.last()).hasMatch();
}

} // namespace

namespace ProxyEndpoint {

bool isDottedQuad(QStringView text)
{
    if (text.isEmpty() || text.startsWith(u'.') || text.endsWith(u'.'))
        return false;
    int dots = 0;
    int part = 0;
    for (const QChar c : text) {
        if (c == u'.') {
            if (++dots > 3)
                return false;
            part = 0;
            continue;
        }
        if (c < u'0' || c > u'9')
            return false;
        // Leading zeros keep the part small; any part above 255 ends the check, so a long run
        // of digits never overflows.
        part = part * 10 + (c.unicode() - u'0');
        if (part > 255)
            return false;
    }
    return dots == 3;
}

bool parse(const QString& proxy, QString* host, quint16* port)
{
    static const QRegularExpression pattern(
        QStringLiteral(R"(^(?:\[([0-9A-Fa-f:.]+)\]|([^\[\]:]+)):([0-9]{1,5})$)"));
    const QRegularExpressionMatch match = pattern.match(proxy);
    if (!match.hasMatch())
        return false;
    const int number = match.captured(3).toInt();
    if (number < 1 || number > 65535)
        return false;
    QString name;
    if (match.hasCaptured(1)) {
        name = match.captured(1);
        if (QHostAddress(name).protocol() != QAbstractSocket::IPv6Protocol)
            return false;
    } else {
        name = match.captured(2);
        if (!isDottedQuad(name) && !isHostName(name))
            return false;
    }
    if (host)
        *host = name;
    if (port)
        *port = quint16(number);
    return true;
}

bool sortKey(QStringView proxy, SortKey& key)
{
    const qsizetype colon = proxy.lastIndexOf(u':');
    if (colon < 1)
        return false;
    bool ok = false;
    const QStringView portText = proxy.sliced(colon + 1);
    const uint port = portText.toUInt(&ok);
    if (!ok || port < 1 || port > 65535 || !portText.front().isDigit())
        return false;
    const QStringView host = proxy.first(colon);
    key.fill(0);
    if (host.startsWith(u'[') && host.endsWith(u']')) {
        QHostAddress address;
        if (!address.setAddress(host.sliced(1, host.size() - 2).toString()) ||
            address.protocol() != QAbstractSocket::IPv6Protocol)
            return false;
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        key[0] = 1;
        std::copy(std::begin(bytes.c), std::end(bytes.c), key.begin() + 1);
    } else if (isDottedQuad(host)) {
        int i = 1;
        for (const QStringView part : host.split(u'.'))
            key[size_t(i++)] = quint8(part.toUInt());
    } else {
        return false;
    }
    key[17] = quint8(port >> 8);
    key[18] = quint8(port & 0xFF);
    return true;
}

} // namespace ProxyEndpoint
