#pragma once

#include "base/Prompts.h"

class QWidget;

// The real dialogs, parented to the main window.
class DialogPrompts final : public Prompts
{
public:
    explicit DialogPrompts(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }

    void message(const QString& text, const QString& title) override;
    void critical(const QString& text, const QString& title) override;
    bool question(const QString& text, const QString& title) override;
    QString input(const QString& prompt, const QString& title, const QString& defaultText,
                  bool* ok) override;
    QString openFile(const QString& title, const QString& filter) override;
    QString saveFile(const QString& title, const QString& filters,
                     QString* selectedFilter) override;

private:
    QWidget* m_parent;
};
