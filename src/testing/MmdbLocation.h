#pragma once

#include "base/Result.h"

#include <QString>

#include <memory>

// Locations from a MaxMind-format database (.mmdb): an address's city and country as one text.
class MmdbLocation final
{
public:
    MmdbLocation();
    ~MmdbLocation();
    MmdbLocation(const MmdbLocation&) = delete;
    MmdbLocation& operator=(const MmdbLocation&) = delete;

    // Opens the file, closing the one before. A failure names the file in its one line, and
    // isOpen() is then false.
    Result open(const QString& path);
    bool isOpen() const;
    void close();
    // "City, Country" (English names), "Country" when the record has no city, "" when the address
    // is not in the file or is no address.
    QString locate(const QString& address) const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
