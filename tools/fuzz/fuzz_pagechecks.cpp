// What the program reads from pages it fetches: the region answer and the IP page. (Judges' echo
// pages have a target of their own.)
#include "FuzzCheck.h"

#include "model/ProxyRow.h"
#include "service/ExternalAddress.h"
#include "testing/ProxyCheck.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString page = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));

    // A location goes into a stored row: it must come back as the same single cell.
    const QString location = ProxyCheck::locationFromAnswer(page);
    FUZZ_CHECK(location.size() <= page.size());
    FUZZ_CHECK(!location.contains(u'|') && !location.contains(u'\n') && !location.contains(u'\r'));
    FUZZ_CHECK(location == location.trimmed());
    ProxyCheck::Outcome outcome;
    outcome.passed = size % 2 == 0;
    outcome.seconds = double(size) / 7;
    outcome.location = location;
    outcome.klass = location.left(20);
    ProxyRow::Cells cells;
    cells[ProxyRow::Proxy] = QStringLiteral("10.0.0.1:8080");
    ProxyCheck::applyOutcome(cells, outcome);
    ProxyRow::Cells back;
    ProxyRow::readStoredRowText(ProxyRow::storedRowText(cells), back);
    FUZZ_CHECK(back == cells);
    FUZZ_CHECK(location.isEmpty() || back[ProxyRow::Location] == location);

    bool found = true;
    const QString address = ExternalAddress::fromPage(page, &found);
    const qsizetype at = page.indexOf(QLatin1String("/ip/"));
    if (at < 0) {
        FUZZ_CHECK(!found && address.isEmpty());
    } else if (found) {
        FUZZ_CHECK(address.size() <= ExternalAddress::MaxAddressLength);
        FUZZ_CHECK(!address.contains(u'"'));
        const QStringView rest = QStringView(page).sliced(at + 4);
        FUZZ_CHECK(rest.startsWith(address));
        // The address runs to the next quote or to the page's end.
        FUZZ_CHECK(rest.size() == address.size() || rest[address.size()] == u'"');
    } else {
        FUZZ_CHECK(address.isEmpty());
        const QStringView rest = QStringView(page).sliced(at + 4);
        const qsizetype quote = rest.indexOf(u'"');
        FUZZ_CHECK((quote < 0 ? rest.size() : quote) > ExternalAddress::MaxAddressLength);
    }
    return 0;
}
