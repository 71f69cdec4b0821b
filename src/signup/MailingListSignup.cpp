#include "signup/MailingListSignup.h"

#include "service/DocumentFetcher.h"
#include "settings/SettingsStore.h"

#include <QUrl>

MailingListSignup::MailingListSignup(SettingsStore& store, DocumentFetcher& fetcher,
                                     const QString& serviceUrl)
    : m_store(store), m_fetcher(fetcher), m_serviceUrl(serviceUrl)
{}

int MailingListSignup::shownCount(const SettingsStore& store)
{
    return store.value(Setting::EMR);
}

QString MailingListSignup::requestUrl(const QString& serviceUrl, const QString& email)
{
    // "@" is allowed in a query as it is; everything outside the unreserved characters is
    // encoded, from the address's UTF-8 bytes.
    return serviceUrl + QStringLiteral("/maillist.php?email=") +
           QString::fromLatin1(QUrl::toPercentEncoding(email, QByteArrayLiteral("@")));
}

void MailingListSignup::countOpening()
{
    const int count = shownCount(m_store);
    m_store.write(Setting::EMR, QString::number(count < ShowUntil ? count + 1 : count));
}

void MailingListSignup::send(const QString& email)
{
    m_store.write(Setting::Email, email);
    m_fetcher.getDOC_WINHTTP(true, DocumentFetcher::DefaultTimeoutSeconds,
                             requestUrl(m_serviceUrl, email));
    m_store.write(Setting::EMR, QString::number(ShowUntil));
    m_store.write(Setting::Email, email);
}
