#include "testing/ProxyCheck.h"

#include "model/SettingsStore.h"

namespace ProxyCheck {

bool isTestableType(const QString& type)
{
    return type.isEmpty() || type == QLatin1String("HTTP");
}

bool gatePassed(const QString& body, int error)
{
    return error == 0 && body.contains(QLatin1String("GATEWAY_INTERFACE"));
}

QString anonymityClass(const QString& gateBody)
{
    return gateBody.contains(QLatin1String("PROXY"))
               ? QStringLiteral("High anonymous / Elite proxy")
               : QStringLiteral("Anonymous proxy");
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

int parallelTests(const SettingsStore& store)
{
    bool ok = false;
    const int value = store.read(QStringLiteral("ParallelTests")).trimmed().toInt(&ok);
    return ok && value >= 1 && value <= MaxParallelTests ? value : 1;
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
        cells[ProxyRow::Speed] = QString::number(outcome.seconds);
    if (!outcome.klass.isEmpty())
        cells[ProxyRow::Class] = outcome.klass;
    cells[ProxyRow::Tested] = outcome.tested;
    if (!outcome.location.isEmpty())
        cells[ProxyRow::Location] = outcome.location;
}

QRgb outcomeColour(const Outcome& outcome)
{
    return outcome.passed ? ProxyRow::PassedColour : ProxyRow::FailedColour;
}

} // namespace ProxyCheck
