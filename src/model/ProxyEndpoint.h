#pragma once

#include <QString>
#include <QStringView>

// What counts as a proxy's address: the checks shared by the list editor, the system proxy and
// the tests.
namespace ProxyEndpoint {

// Four dot-separated decimal parts of 0..255 ("1.2.3.4"; leading zeros allowed).
bool isDottedQuad(QStringView text);

// "host:port" with host a dotted quad, a DNS name (labels of letters, digits and inner hyphens, at
// most 63 characters each and 253 in all, the last label not all digits) or "[IPv6 address]", and
// a port 1..65535. host is given without brackets.
bool parse(const QString& proxy, QString* host = nullptr, quint16* port = nullptr);

} // namespace ProxyEndpoint
