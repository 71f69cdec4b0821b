// libFuzzer target for the text the program takes from outside: service list bodies and stored
// row texts. Build with -DCORVATEL_FUZZ=ON and clang; run build-fuzz/bin/fuzz_parsers.
#include "model/ProxyRow.h"
#include "service/ExternalAddress.h"
#include "service/ServiceList.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));

    ProxyRow::Cells cells;
    for (QStringView line : ServiceList::linesToLoad(text))
        ProxyRow::serviceLineToCells(line, cells);

    ProxyRow::Cells stored;
    ProxyRow::readStoredRowText(text, stored);
    ProxyRow::Cells back;
    ProxyRow::readStoredRowText(ProxyRow::storedRowText(stored), back);
    if (back != stored)
        __builtin_trap(); // a row must survive its stored form unchanged
    (void)ProxyRow::proxyField(text);

    bool found = false;
    (void)ExternalAddress::fromPage(text, &found);
    return 0;
}
