#include "base/Deployment.h"

#include <QtGlobal>

namespace {

void override(QString& value, const char* variable)
{
    const QString set = qEnvironmentVariable(variable);
    if (!set.isEmpty())
        value = set;
}

} // namespace

Deployment Deployment::defaults()
{
    Deployment d;
    d.serviceUrl = QStringLiteral("http://127.0.0.1:8642");
    d.ipInfoUrl = QStringLiteral("http://127.0.0.1:8642/");
    d.whatIpUrl = QStringLiteral("http://127.0.0.1:8642/");
    d.probeUrl = QStringLiteral("http://www.google.com/");
    d.siteUrl = QStringLiteral("https://corvatel.example/");
    d.facebookUrl = QStringLiteral("https://www.facebook.com/corvatel.example");
    d.twitterUrl = QStringLiteral("https://twitter.com/corvatel_example");
    d.systemProxy = QStringLiteral("auto");
    return d;
}

Deployment Deployment::fromEnvironment()
{
    Deployment d = defaults();
    override(d.serviceUrl, "CORVATEL_SERVICE_URL");
    override(d.ipInfoUrl, "CORVATEL_IPINFO_URL");
    override(d.whatIpUrl, "CORVATEL_WHATIP_URL");
    override(d.probeUrl, "CORVATEL_PROBE_URL");
    override(d.siteUrl, "CORVATEL_SITE_URL");
    override(d.facebookUrl, "CORVATEL_FACEBOOK_URL");
    override(d.twitterUrl, "CORVATEL_TWITTER_URL");
    override(d.systemProxy, "CORVATEL_SYSTEM_PROXY");
    // Service pages are appended as "/ppx.php...", so the base must not end in "/"; the
    // IP-information page is a folder that "Get Selected Proxy Info" adds a path to.
    while (d.serviceUrl.endsWith(u'/'))
        d.serviceUrl.chop(1);
    if (!d.ipInfoUrl.endsWith(u'/'))
        d.ipInfoUrl += u'/';
    return d;
}
