#include "service/ServiceList.h"

#include "version.h"

namespace ServiceList {

QString listUrl(const QString& baseUrl)
{
    const QString version = QString::number(CORVATEL_VERSION_MAJOR);
    return baseUrl + QStringLiteral("/ppx.php?M=L&P=") + QLatin1String(ProductCode) +
           QStringLiteral("&V=") + version;
}

std::vector<QStringView> linesToLoad(QStringView body)
{
    static const QString separator = QStringLiteral("<BR>");
    std::vector<QStringView> lines;
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = body.indexOf(separator, from, Qt::CaseSensitive);
        if (at < 0)
            break;
        lines.push_back(body.mid(from, at - from));
        from = at + separator.size();
    }
    // With n pieces after the split, pieces 0..n-2 are lines; fewer than three pieces load nothing.
    if (lines.size() < 2)
        lines.clear();
    return lines;
}

} // namespace ServiceList
