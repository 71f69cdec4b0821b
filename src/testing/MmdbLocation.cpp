#include "testing/MmdbLocation.h"

#include "testing/ProxyCheck.h"

#include <QFile>
#include <QFileInfo>

#include <arpa/inet.h>
#include <maxminddb.h>

#include <cerrno>
#include <cstring>

struct MmdbLocation::Private
{
    MMDB_s db{};
    bool open = false;
};

namespace {

// The English name under key ("city" or "country"), with the characters that would break a
// stored line turned into blanks; "" when the record has none.
QString englishName(MMDB_entry_s entry, const char* key)
{
    MMDB_entry_data_s data{};
    if (MMDB_get_value(&entry, &data, key, "names", "en", nullptr) != MMDB_SUCCESS ||
        !data.has_data || data.type != MMDB_DATA_TYPE_UTF8_STRING)
        return QString();
    return ProxyCheck::locationFromAnswer(
        QString::fromUtf8(data.utf8_string, qsizetype(data.data_size)));
}

// The address in the form the database is searched with, "" when text is no address.
// getaddrinfo would take "127.1", a decimal number or, on some systems, a host name to resolve;
// only the written forms of an address are let through. An IPv4 address written as IPv6
// (::ffff:a.b.c.d) is searched as the IPv4 address it is.
QByteArray searchForm(const QString& text)
{
    const QByteArray address = text.trimmed().toLatin1();
    unsigned char binary[16];
    if (inet_pton(AF_INET, address.constData(), binary) == 1)
        return address;
    if (inet_pton(AF_INET6, address.constData(), binary) != 1)
        return QByteArray();
    static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::memcmp(binary, mapped, sizeof mapped) != 0)
        return address;
    char v4[INET_ADDRSTRLEN];
    return inet_ntop(AF_INET, binary + 12, v4, sizeof v4) ? QByteArray(v4) : QByteArray();
}

} // namespace

MmdbLocation::MmdbLocation() : d(std::make_unique<Private>()) {}

MmdbLocation::~MmdbLocation()
{
    close();
}

Result MmdbLocation::open(const QString& path)
{
    close();
    const auto fail = [&](const QString& reason) {
        return Result::failure(
            QStringLiteral("The location database \"%1\" cannot be read: %2").arg(path, reason));
    };
    if (path.isEmpty())
        return Result::failure(QStringLiteral("No location database file is set."));
    // A folder fails in mmap with a puzzling reason, and a named pipe would block the open.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return fail(QStringLiteral("it is not a file"));
    // mmap refuses an empty file with no more than "Invalid argument".
    if (info.exists() && info.size() == 0)
        return fail(QStringLiteral("the file is empty"));

    const int status = MMDB_open(QFile::encodeName(path).constData(), MMDB_MODE_MMAP, &d->db);
    if (status != MMDB_SUCCESS) {
        const int savedErrno = errno;
        // On failure the library has already freed what it allocated.
        d->db = MMDB_s{};
        QString reason = QString::fromUtf8(MMDB_strerror(status));
        if ((status == MMDB_FILE_OPEN_ERROR || status == MMDB_IO_ERROR) && savedErrno != 0)
            reason +=
                QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(std::strerror(savedErrno)));
        return fail(reason);
    }
    d->open = true;
    return Result::success();
}

bool MmdbLocation::isOpen() const
{
    return d->open;
}

void MmdbLocation::close()
{
    if (!d->open)
        return;
    MMDB_close(&d->db);
    d->db = MMDB_s{};
    d->open = false;
}

QString MmdbLocation::locate(const QString& address) const
{
    if (!d->open)
        return QString();
    const QByteArray search = searchForm(address);
    if (search.isEmpty())
        return QString();
    int gaiError = 0;
    int mmdbError = MMDB_SUCCESS;
    const MMDB_lookup_result_s result =
        MMDB_lookup_string(&d->db, search.constData(), &gaiError, &mmdbError);
    // An IPv6 address in an IPv4-only database, or a damaged search tree, finds nothing.
    if (gaiError != 0 || mmdbError != MMDB_SUCCESS || !result.found_entry)
        return QString();
    const QString city = englishName(result.entry, "city");
    const QString country = englishName(result.entry, "country");
    if (city.isEmpty() || country.isEmpty())
        return city.isEmpty() ? country : city;
    return city + QStringLiteral(", ") + country;
}
