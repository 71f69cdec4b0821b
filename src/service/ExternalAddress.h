#pragma once

#include <QDate>
#include <QString>

class DocumentFetcher;
class WindowHost;
class SettingsStore;

namespace ExternalAddress {

// The day text the address is remembered under: the locale's short date.
QString dayText(const QDate& date);

// True when the address must be fetched: none is stored, or it was learnt on another day.
bool fetchDue(const QString& storedAddress, const QString& storedDay, const QString& today);

// The longest text an address can be (an IPv6 address with an embedded IPv4 one).
inline constexpr int MaxAddressLength = 45;

// The address in an IP-information page: the text after the first "/ip/" up to the next double
// quote (or the page's end). found is false when the page has no "/ip/" or that text is longer
// than MaxAddressLength.
QString fromPage(const QString& page, bool* found);

// The user's address in the status bar's third panel: the stored one while it was learnt today,
// else the one the IP-information page at ipInfoUrl gives, which is remembered with the day.
void getMyIP(SettingsStore& store, DocumentFetcher& fetcher, const QString& ipInfoUrl,
             const QDate& today, WindowHost& host);

} // namespace ExternalAddress
