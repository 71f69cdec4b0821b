#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

// Reads a text file line by line without holding all of it: a line ends at LF, CR LF or CR, the
// last one needs no line break, empty lines are passed over. A line that is valid UTF-8 is read
// as such, any other as Latin-1 (the 8-bit files older tools write).
//
// Lines that cannot be a proxy or a page address are skipped and counted: longer than
// MaxLineBytes, or holding control characters other than the tab (binary data).
class TextLineReader final
{
public:
    static constexpr qsizetype MaxLineBytes = 4096;

    explicit TextLineReader(QIODevice& device);
    TextLineReader(const TextLineReader&) = delete;
    TextLineReader& operator=(const TextLineReader&) = delete;

    // The next line; false at the end of the file or once reading failed.
    bool next(QString& line);

    bool failed() const { return m_failed; }
    int skippedLines() const { return m_skipped; }
    // Lines seen so far, empty and skipped ones included: the number of the line next() returned
    // last, counting from 1.
    int lineNumber() const { return m_lines; }
    // The first skipped line's number (0 when none) and whether it was skipped for its length.
    int firstSkippedLine() const { return m_firstSkipped; }
    bool firstSkippedOverlong() const { return m_firstSkippedOverlong; }

private:
    bool take(QByteArrayView bytes, QString& line);
    void skip(bool overlong);
    void refill();

    QIODevice& m_device;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    qsizetype m_scanned = 0; // bytes after m_pos known to hold no line break
    bool m_atEnd = false;
    bool m_failed = false;
    bool m_skipLf = false;     // the last line ended at a CR: an LF right after belongs to it
    bool m_discarding = false; // inside an overlong line
    bool m_first = true;
    int m_skipped = 0;
    int m_lines = 0;
    int m_firstSkipped = 0;
    bool m_firstSkippedOverlong = false;
};
