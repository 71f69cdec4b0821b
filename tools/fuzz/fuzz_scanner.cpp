// The scanner's search over an arbitrary page, held against a hand-written reading of its rule:
// a word boundary, an optional "http://" in any letter case, four dot-separated digit runs, a
// colon and a port that a word boundary ends. A lower-case "http://" is not part of the proxy.
#include "FuzzCheck.h"

#include "import/SourceScanner.h"

#include <QRegularExpression>

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace {

bool isWord(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
           c == u'_';
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// End of an address and port starting at q, or -1.
qsizetype addressEnd(QStringView page, qsizetype q)
{
    const qsizetype n = page.size();
    for (int group = 0; group < 4; ++group) {
        if (group > 0) {
            if (q >= n || page[q] != u'.')
                return -1;
            ++q;
        }
        const qsizetype start = q;
        while (q < n && isDigit(page[q]))
            ++q;
        if (q == start)
            return -1;
    }
    if (q >= n || page[q] != u':')
        return -1;
    const qsizetype port = ++q;
    while (q < n && isDigit(page[q]))
        ++q;
    if (q == port || (q < n && isWord(page[q])))
        return -1;
    return q;
}

// (start, end) of every match, scanning left to right.
std::vector<std::pair<qsizetype, qsizetype>> modelMatches(QStringView page)
{
    std::vector<std::pair<qsizetype, qsizetype>> matches;
    static const QStringView prefix = u"http://";
    qsizetype p = 0;
    while (p < page.size()) {
        if (p > 0 && isWord(page[p - 1]) && isWord(page[p])) {
            ++p;
            continue;
        }
        qsizetype end = -1;
        if (page.sliced(p).startsWith(prefix, Qt::CaseInsensitive))
            end = addressEnd(page, p + prefix.size());
        if (end < 0 && (p == 0 || !isWord(page[p - 1])))
            end = addressEnd(page, p);
        if (end < 0) {
            ++p;
            continue;
        }
        matches.emplace_back(p, end);
        p = end;
    }
    return matches;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString page = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::vector<QStringView> found = SourceScanner::candidates(page);
    const auto expected = modelMatches(page);
    FUZZ_CHECK(found.size() == expected.size());
    for (size_t k = 0; k < found.size(); ++k) {
        const QStringView proxy = found[k];
        const qsizetype start = proxy.data() - page.constData();
        FUZZ_CHECK(start >= 0 && start + proxy.size() <= page.size());
        FUZZ_CHECK(start + proxy.size() == expected[k].second);
        const QStringView match =
            QStringView(page).sliced(expected[k].first, expected[k].second - expected[k].first);
        FUZZ_CHECK(match.endsWith(proxy));
        const QStringView dropped = match.first(match.size() - proxy.size());
        FUZZ_CHECK(dropped.isEmpty() || dropped == u"http://");
        FUZZ_CHECK(!proxy.startsWith(u"http://"));
    }
    return 0;
}
