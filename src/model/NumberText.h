#pragma once

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

} // namespace NumberText
