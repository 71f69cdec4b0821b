#include "system/WebLookups.h"

#include "base/Prompts.h"

#include <QCursor>
#include <QDesktopServices>
#include <QGuiApplication>

namespace {

QString withoutTrailingSlashes(QString base)
{
    while (base.endsWith(u'/'))
        base.chop(1);
    return base;
}

// The busy pointer for as long as the handler takes to answer, and the default one after,
// whatever happens in between.
class BusyPointer final
{
public:
    BusyPointer() { QGuiApplication::setOverrideCursor(Qt::BusyCursor); }
    ~BusyPointer() { QGuiApplication::restoreOverrideCursor(); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;
};

} // namespace

const QString WebLookups::OpenFailedText =
    QStringLiteral("Error Executing Application or File Not Found");
const QString WebLookups::InstallHintText =
    QStringLiteral("Web pages open through xdg-open: install xdg-utils and a web browser.");

WebLookups::WebLookups(const Deployment& deployment, Prompts& prompts, Opener opener)
    : m_deployment(deployment), m_prompts(prompts)
{
    setOpener(std::move(opener));
}

void WebLookups::setOpener(Opener opener)
{
    m_opener = opener ? std::move(opener)
                      : Opener([](const QUrl& url) { return QDesktopServices::openUrl(url); });
}

QString WebLookups::address(const Deployment& deployment, Page page)
{
    switch (page) {
    case Page::About:
        return withoutTrailingSlashes(deployment.siteUrl) + u'/';
    case Page::Support:
        return withoutTrailingSlashes(deployment.siteUrl) + QStringLiteral("/support.php");
    case Page::WhatIsMyIp:
        return withoutTrailingSlashes(deployment.whatIpUrl) + u'/';
    case Page::Facebook:
        return deployment.facebookUrl;
    case Page::Twitter:
        return deployment.twitterUrl;
    }
    return QString();
}

QString WebLookups::proxyInfoAddress(const QString& ipInfoUrl, const QString& proxyCell)
{
    QStringView address(proxyCell);
    // Imported proxies may keep the scheme they were written with; its ":" is not the port's.
    for (QLatin1String scheme : {QLatin1String("http://"), QLatin1String("https://")}) {
        if (address.startsWith(scheme, Qt::CaseInsensitive)) {
            address = address.mid(scheme.size());
            break;
        }
    }
    const qsizetype colon = address.indexOf(u':');
    if (colon >= 0)
        address = address.left(colon);
    // Whatever the cell holds stays one path segment: "/", "?" or "#" cannot leave the page.
    return withoutTrailingSlashes(ipInfoUrl) + QStringLiteral("/ip/") +
           QString::fromLatin1(QUrl::toPercentEncoding(address.toString()));
}

void WebLookups::shellOpen(const QString& target)
{
    bool opened = false;
    {
        BusyPointer busy;
        const QUrl url(target);
        opened = url.isValid() && !url.isEmpty() && m_opener(url);
    }
    if (!opened)
        m_prompts.message(OpenFailedText + u'\n' + InstallHintText, QStringLiteral("Corvatel"));
}
