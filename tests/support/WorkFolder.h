#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// A fresh folder that is the current one (where proxy.lst and proxysources.lst are kept) for as
// long as the object lives.
struct WorkFolder
{
    WorkFolder() : previous(QDir::currentPath()) { QDir::setCurrent(dir.path()); }
    ~WorkFolder() { QDir::setCurrent(previous); }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    QString path() const { return dir.path(); }
    QString filePath(const QString& name) const { return dir.filePath(name); }

    // Writes name with content; its path.
    QString write(const QString& name, const QByteArray& content) const
    {
        QFile file(filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(name));
        return file.fileName();
    }
    // The content of name, or `missing` when it cannot be read.
    QByteArray read(const QString& name, const QByteArray& missing = "(none)") const
    {
        QFile file(filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : missing;
    }

    QTemporaryDir dir;
    QString previous;
};
