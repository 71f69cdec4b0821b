#pragma once

#include <QString>
#include <QStringView>

#include <array>

// What counts as a proxy's address: the checks shared by the list editor, the system proxy and
// the tests.
namespace ProxyEndpoint {

// Four dot-separated decimal parts of 0..255 ("1.2.3.4"; leading zeros allowed).
bool isDottedQuad(QStringView text);

// "host:port" with host a dotted quad, a DNS name (labels of letters, digits and inner hyphens, at
// most 63 characters each and 253 in all, the last label not all digits) or "[IPv6 address]", and
// a port 1..65535. host is given without brackets.
bool parse(const QString& proxy, QString* host = nullptr, quint16* port = nullptr);

// What an address:port sorts by: 0 and the four bytes for IPv4, 1 and the sixteen for an IPv6
// address in brackets, then the port (high byte first). False for any other text.
using SortKey = std::array<quint8, 19>;
bool sortKey(QStringView proxy, SortKey& key);

} // namespace ProxyEndpoint
