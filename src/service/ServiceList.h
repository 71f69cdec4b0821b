#pragma once

#include <QString>
#include <QStringView>

#include <vector>

namespace ServiceList {

// Product code and major version the list request names.
inline constexpr char ProductCode[] = "C";

// baseUrl + "/ppx.php?M=L&P=C&V=2".
QString listUrl(const QString& baseUrl);

// The lines of a list body that are loaded: the pieces between "<BR>" separators (the exact,
// upper-case text), without the text after the last one. A body with fewer than two separators
// loads nothing.
std::vector<QStringView> linesToLoad(QStringView body);

} // namespace ServiceList
