#pragma once

#include "model/ProxyRow.h"
#include "testing/CurlEngine.h"

#include <QDateTime>
#include <QString>

// The rules of one proxy test: what may be tested, what counts as a working proxy, how its
// anonymity is judged, and what a test writes into a row.
namespace ProxyCheck {

// How a row's Type is tested: "" and "HTTP" as an HTTP proxy, "HTTPS" as an HTTP proxy that
// tunnels (CONNECT), "SOCKS4", "SOCKS4A", "SOCKS5". The type is compared as written, so "http"
// is some other type, which cannot be tested: returns false.
bool typeOf(const QString& typeText, ProxyType* type);
// The Type text of a type typeOf accepts ("HTTP" for Http).
QString typeText(ProxyType type);
// The order in which an untyped proxy's type is looked for.
inline constexpr ProxyType DetectionOrder[] = {ProxyType::Http, ProxyType::Socks5,
                                               ProxyType::Socks4};
// "Speed": seconds with two decimals.
QString speedText(double seconds);
// "YYYY-MM-DD HH:MM".
QString testTimeText(const QDateTime& when);
// The region page's answer as a Location cell. Line breaks and "|" would break the stored row
// apart, so they become blanks.
QString locationFromAnswer(const QString& answer);

QString gateUrl(const QString& serviceUrl);
QString regionUrl(const QString& serviceUrl, const QString& proxy);

// What one finished test found.
struct Outcome
{
    bool passed = false;
    double seconds = 0;
    QString tested;      // testTimeText of the test
    QString location;    // "" leaves the cell as it was
    QString klass;       // "" leaves the cell as it was
    QString type;        // a type found for an untyped proxy; "" leaves the cell as it was
    QString exitAddress; // the address the judge saw the request come from; "" when unknown
    QString judge;       // the URL of the judge the proxy was tested against; "" when none
};

// Writes the outcome into a row's cells: "Active" Y/N, "Speed" only when it passed, "Tested",
// then "Location", "Class" and "Type" when known.
void applyOutcome(ProxyRow::Cells& cells, const Outcome& outcome);
// The text colour of every cell of a tested row.
ProxyRow::Colour outcomeColour(const Outcome& outcome);

} // namespace ProxyCheck
