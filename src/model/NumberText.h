#pragma once

#include <QString>
#include <QStringView>

namespace NumberText {

// Length of the number a text starts with: an optional sign, then digits with at most one
// decimal point among them. 0 when the text does not start with a digit (after the sign/point).
inline qsizetype numberPrefix(QStringView text)
{
    qsizetype i = 0;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    bool digits = false;
    bool point = false;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c >= u'0' && c <= u'9')
            digits = true;
        else if (c == u'.' && !point)
            point = true;
        else
            break;
    }
    return digits ? i : 0;
}

// A count for people to read, thousands set apart by a space: "2 000", "1 210 000".
inline QString grouped(qint64 count)
{
    QString digits = QString::number(count < 0 ? -count : count);
    for (qsizetype i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, u' ');
    return count < 0 ? u'-' + digits : digits;
}

} // namespace NumberText
