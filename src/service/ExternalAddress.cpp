#include "service/ExternalAddress.h"

#include <QLocale>

namespace ExternalAddress {

QString dayText(const QDate& date)
{
    return QLocale().toString(date, QLocale::ShortFormat);
}

bool fetchDue(const QString& storedAddress, const QString& storedDay, const QString& today)
{
    return storedAddress.isEmpty() || storedDay != today;
}

QString fromPage(const QString& page, bool* found)
{
    static const QString marker = QStringLiteral("/ip/");
    *found = false;
    const qsizetype at = page.indexOf(marker);
    if (at < 0)
        return {};
    // Only the head of the rest is looked at: a huge page must not become a huge "address".
    const QStringView rest = QStringView(page).mid(at + marker.size());
    const QStringView head = rest.left(MaxAddressLength + 1);
    const qsizetype quote = head.indexOf(QLatin1Char('"'));
    const QStringView address = quote >= 0 ? head.left(quote) : rest;
    if (address.size() > MaxAddressLength)
        return {};
    *found = true;
    return address.toString();
}

} // namespace ExternalAddress
