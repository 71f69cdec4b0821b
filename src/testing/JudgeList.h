#pragma once

#include "base/Result.h"

#include <QList>
#include <QString>
#include <QStringList>

// The judges (echo pages) proxy tests may fetch, in the user's order, as kept in judges.lst: one
// URL a line, UTF-8, LF. Without the file there are none, and tests use the service's own gate
// page.
class JudgeList final
{
public:
    // A line of the file that is no judge's URL, kept so it can be named once.
    struct Refused
    {
        int line = 0; // from 1
        QString text;
    };
    struct Loaded
    {
        QStringList urls; // valid, in file order, each once
        QList<Refused> refused;
        Result read; // fails when the file exists and could not be read (to the end)
    };

    // judges.lst in the process's current directory at the moment of the call.
    static QString defaultPath();
    // An http or https URL with a host and no blanks or control characters.
    static bool isJudgeUrl(const QString& text);
    // A missing file gives an empty list. Blank lines are passed over; blanks around a URL and
    // the CR of a CR LF line end are dropped.
    static Loaded load(const QString& path);
    // Through a temporary file that replaces the old one only once it is complete.
    static Result save(const QString& path, const QStringList& urls);
    // "judges.lst line 3 is no http(s) URL: ftp://x"
    static QString refusedText(const QString& path, const Refused& refused);
};
