#include "service/ExternalAddress.h"

#include "base/WindowHost.h"
#include "service/DocumentFetcher.h"
#include "settings/SettingKeys.h"
#include "settings/SettingsStore.h"

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

void getMyIP(SettingsStore& store, DocumentFetcher& fetcher, const QString& ipInfoUrl,
             const QDate& today, WindowHost& host)
{
    const QString todayText = dayText(today);
    const QString lastDay = store.read(Setting::LAST_MYIP, dayText(today.addDays(-1)));
    const QString stored = store.read(Setting::MYIP);
    if (!fetchDue(stored, lastDay, todayText)) {
        host.setPanelText(3, stored);
        return;
    }
    host.setStatusText(QStringLiteral("Getting External IP Address.."));
    const QString page =
        fetcher.getDOC_WINHTTP(true, DocumentFetcher::DefaultTimeoutSeconds, ipInfoUrl);
    bool found = false;
    const QString address = fromPage(page, &found);
    if (found)
        host.setPanelText(3, address);
    host.setStatusText(QString());
    // Only an address is remembered: a page without one must not end up in the status bar.
    store.write(Setting::MYIP, found ? address : QString());
    store.write(Setting::LAST_MYIP, todayText);
}

} // namespace ExternalAddress
