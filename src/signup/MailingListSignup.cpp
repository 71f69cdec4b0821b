#include "signup/MailingListSignup.h"

#include "model/SettingsStore.h"
#include "service/DocumentFetcher.h"
#include "shell/WindowSettings.h"

#include <QUrl>

namespace {

const QString emrKey = QStringLiteral("EMR");
const QString emailKey = QStringLiteral("Email");

} // namespace

MailingListSignup::MailingListSignup(SettingsStore& store, DocumentFetcher& fetcher,
                                     const QString& serviceUrl)
    : m_store(store), m_fetcher(fetcher), m_serviceUrl(serviceUrl)
{}

int MailingListSignup::shownCount(const SettingsStore& store)
{
    int count = 0;
    if (!SettingsText::toWholeNumber(store.read(emrKey, QStringLiteral("0")), count))
        count = 0;
    return count;
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
    m_store.write(emrKey, QString::number(count < ShowUntil ? count + 1 : count));
}

void MailingListSignup::send(const QString& email)
{
    m_store.write(emailKey, email);
    m_fetcher.getDOC_WINHTTP(true, DocumentFetcher::DefaultTimeoutSeconds,
                             requestUrl(m_serviceUrl, email));
    m_store.write(emrKey, QString::number(ShowUntil));
    m_store.write(emailKey, email);
}
