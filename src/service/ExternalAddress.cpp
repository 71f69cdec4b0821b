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
    const qsizetype at = page.indexOf(marker);
    *found = at >= 0;
    if (at < 0)
        return {};
    QString address = page.mid(at + marker.size());
    const qsizetype quote = address.indexOf(QLatin1Char('"'));
    if (quote >= 0)
        address.truncate(quote);
    return address;
}

} // namespace ExternalAddress
