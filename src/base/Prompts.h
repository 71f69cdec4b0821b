#pragma once

#include <QString>

// Every modal question the program asks goes through here, so tests can script the answers.
class Prompts
{
public:
    virtual ~Prompts() = default;

    // An information box with one OK button.
    virtual void message(const QString& text, const QString& title) = 0;
    // An error box (stop icon) with one OK button.
    virtual void critical(const QString& text, const QString& title) = 0;
    // A Yes/No question; true for Yes.
    virtual bool question(const QString& text, const QString& title) = 0;
    // An input box; ok tells whether the user confirmed.
    virtual QString input(const QString& prompt, const QString& title, const QString& defaultText,
                          bool* ok) = 0;
    // A file-open dialog; "" when the user cancels. filter is in Qt's "Name (*.ext)" form.
    virtual QString openFile(const QString& title, const QString& filter) = 0;
    // A file-save dialog; "" when the user cancels. filters are ";;"-separated; selectedFilter
    // comes in as the one to offer first and goes out as the one the user left chosen.
    virtual QString saveFile(const QString& title, const QString& filters,
                             QString* selectedFilter) = 0;
};
