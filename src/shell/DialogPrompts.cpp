#include "shell/DialogPrompts.h"

#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

void DialogPrompts::message(const QString& text, const QString& title)
{
    QMessageBox::information(m_parent, title, text);
}

void DialogPrompts::critical(const QString& text, const QString& title)
{
    QMessageBox::critical(m_parent, title, text);
}

bool DialogPrompts::question(const QString& text, const QString& title)
{
    return QMessageBox::question(m_parent, title, text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

QString DialogPrompts::input(const QString& prompt, const QString& title,
                             const QString& defaultText, bool* ok)
{
    return QInputDialog::getText(m_parent, title, prompt, QLineEdit::Normal, defaultText, ok);
}

QString DialogPrompts::saveFile(const QString& title, const QString& filters,
                                QString* selectedFilter)
{
    return QFileDialog::getSaveFileName(m_parent, title, QDir::currentPath(), filters,
                                        selectedFilter);
}

QString DialogPrompts::openFile(const QString& title, const QString& filter)
{
    return QFileDialog::getOpenFileName(m_parent, title, QDir::currentPath(), filter);
}
