#pragma once

#include "base/Prompts.h"

#include <QQueue>
#include <QStringList>

// Prompts that answer from a script instead of opening dialogs, and remember what was asked.
class ScriptedPrompts final : public Prompts
{
public:
    void message(const QString& text, const QString& title) override
    {
        asked << title + QStringLiteral(": ") + text;
    }
    void critical(const QString& text, const QString& title) override
    {
        asked << title + QStringLiteral(": ") + text;
    }
    bool question(const QString& text, const QString& title) override
    {
        asked << title + QStringLiteral(": ") + text;
        return answers.isEmpty() ? false : answers.dequeue() == QLatin1String("yes");
    }
    QString input(const QString& prompt, const QString& title, const QString&, bool* ok) override
    {
        asked << title + QStringLiteral(": ") + prompt;
        const bool has = !answers.isEmpty();
        if (ok)
            *ok = has;
        return has ? answers.dequeue() : QString();
    }
    QString openFile(const QString& title, const QString&) override
    {
        asked << title;
        return answers.isEmpty() ? QString() : answers.dequeue();
    }

    // The file comes from answers, the filter chosen from filters (else the one offered).
    QString saveFile(const QString& title, const QString&, QString* selectedFilter) override
    {
        asked << title;
        if (!filters.isEmpty() && selectedFilter)
            *selectedFilter = filters.dequeue();
        return answers.isEmpty() ? QString() : answers.dequeue();
    }

    QQueue<QString> answers;
    QQueue<QString> filters;
    QStringList asked;
};
