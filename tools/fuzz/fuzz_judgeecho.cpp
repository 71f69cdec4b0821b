// What a judge answers, read as an echo of either kind and judged: the same bytes may come from
// any page a proxy chooses to send instead.
#include "FuzzCheck.h"

#include "testing/JudgeEcho.h"
#include "testing/JudgeList.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const JudgeEcho::Report report = JudgeEcho::parse(body);

    FUZZ_CHECK((report.kind == JudgeEcho::Kind::Unknown) == !report.error.isEmpty());
    FUZZ_CHECK(report.proxyMarker == body.contains("PROXY"));
    FUZZ_CHECK(report.headers.size() <= 1000);
    for (const auto& [name, value] : report.headers)
        FUZZ_CHECK(!name.contains(u'_'));
    if (report.kind != JudgeEcho::Kind::Cgi)
        FUZZ_CHECK(!report.gatewayInterface && report.queryString.isEmpty());

    // Only a body holding the token passes, unless markup or escapes could have spelt it.
    const QString token = QStringLiteral("0123456789abcdef0123456789abcdef");
    for (const bool gate : {false, true}) {
        const bool passed = JudgeEcho::passed(report, 200, token, gate);
        FUZZ_CHECK(!passed || report.kind != JudgeEcho::Kind::Unknown);
        FUZZ_CHECK(!passed || !gate || report.gatewayInterface);
        FUZZ_CHECK(!passed || body.contains(token.toLatin1()) || body.contains('&') ||
                   body.contains('<') || body.contains('\\'));
        FUZZ_CHECK(!JudgeEcho::passed(report, 404, token, gate));
        FUZZ_CHECK(!JudgeEcho::passed(report, 200, QString(), gate));
    }

    static const QStringList classes = {QStringLiteral("Transparent proxy"),
                                        QStringLiteral("Anonymous proxy"),
                                        QStringLiteral("High anonymous / Elite proxy")};
    for (const QString& user : {QString(), QStringLiteral("127.0.0.1"), report.remoteAddr}) {
        for (const bool gate : {false, true})
            FUZZ_CHECK(classes.contains(JudgeEcho::anonymityClass(report, user, gate)));
    }
    // Without the user's address nothing is transparent, and the service's gate is judged by
    // its marker.
    FUZZ_CHECK(JudgeEcho::anonymityClass(report, QString(), true) ==
               (report.proxyMarker ? classes[2] : classes[1]));

    // The same bytes as a line of judges.lst.
    const QString line = QString::fromUtf8(body);
    if (JudgeList::isJudgeUrl(line)) {
        FUZZ_CHECK(!line.contains(u' ') && !line.contains(u'\n'));
        FUZZ_CHECK(JudgeEcho::withToken(line, token).contains(token));
    }
    return 0;
}
