#pragma once

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

    // Opens the file, closing the one before. On failure returns false, says why in error (one
    // line naming the file) and isOpen() is false.
    bool open(const QString& path, QString* error);
    bool isOpen() const;
    void close();
    // "City, Country" (English names), "Country" when the record has no city, "" when the address
    // is not in the file or is no address.
    QString locate(const QString& address) const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
