#include "testing/ProxyCheck.h"

namespace ProxyCheck {

namespace {

struct TypeName
{
    ProxyType type;
    const char* text;
};

constexpr TypeName TypeNames[] = {
    {ProxyType::Http, "HTTP"},     {ProxyType::HttpsTunnel, "HTTPS"},
    {ProxyType::Socks4, "SOCKS4"}, {ProxyType::Socks4a, "SOCKS4A"},
    {ProxyType::Socks5, "SOCKS5"},
};

} // namespace

bool typeOf(const QString& typeText, ProxyType* type)
{
    if (typeText.isEmpty()) {
        *type = ProxyType::Http;
        return true;
    }
    for (const TypeName& name : TypeNames) {
        if (typeText == QLatin1String(name.text)) {
            *type = name.type;
            return true;
        }
    }
    return false;
}

QString typeText(ProxyType type)
{
    for (const TypeName& name : TypeNames) {
        if (name.type == type)
            return QString::fromLatin1(name.text);
    }
    return QString();
}

QString speedText(double seconds)
{
    return QString::number(seconds, 'f', 2);
}

QString testTimeText(const QDateTime& when)
{
    return when.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QString locationFromAnswer(const QString& answer)
{
    QString location = answer;
    for (QChar& c : location) {
        if (c == u'\r' || c == u'\n' || c == u'|')
            c = u' ';
    }
    return location.trimmed();
}

QString gateUrl(const QString& serviceUrl)
{
    return serviceUrl + QStringLiteral("/gate.php");
}

QString regionUrl(const QString& serviceUrl, const QString& proxy)
{
    return serviceUrl + QStringLiteral("/getregion.php?P=") + proxy;
}

void applyOutcome(ProxyRow::Cells& cells, const Outcome& outcome)
{
    cells[ProxyRow::Active] = outcome.passed ? QStringLiteral("Y") : QStringLiteral("N");
    if (outcome.passed)
        cells[ProxyRow::Speed] = speedText(outcome.seconds);
    if (!outcome.klass.isEmpty())
        cells[ProxyRow::Class] = outcome.klass;
    cells[ProxyRow::Tested] = outcome.tested;
    if (!outcome.location.isEmpty())
        cells[ProxyRow::Location] = outcome.location;
    if (!outcome.type.isEmpty())
        cells[ProxyRow::Type] = outcome.type;
}

ProxyRow::Colour outcomeColour(const Outcome& outcome)
{
    return outcome.passed ? ProxyRow::PassedColour : ProxyRow::FailedColour;
}

} // namespace ProxyCheck
