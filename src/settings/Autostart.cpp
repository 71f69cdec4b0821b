#include "settings/Autostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

bool hasControlCharacter(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    }
    return false;
}

// The string escapes every value of an entry goes through; a leading blank would be trimmed.
QString entryValue(const QString& text)
{
    QString out = text;
    out.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    if (out.startsWith(QLatin1Char(' ')))
        out.replace(0, 1, QStringLiteral("\\s"));
    return out;
}

bool isUsableBaseName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !hasControlCharacter(name);
}

// The whole file at once, or nothing.
bool writeEntryFile(const QString& folder, const QString& path, const QByteArray& bytes)
{
    if (!QDir().mkpath(folder))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace

QString Autostart::defaultEntryFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart");
}

Autostart::Autostart() : Autostart(defaultEntryFolder(), QCoreApplication::applicationFilePath()) {}

Autostart::Autostart(const QString& entryFolder, const QString& executable)
    : m_entryFolder(entryFolder), m_executable(executable)
{}

QString Autostart::entryPath(const QString& baseName) const
{
    return m_entryFolder + QLatin1Char('/') + baseName + QStringLiteral(".desktop");
}

QString Autostart::executableBaseName() const
{
    return QFileInfo(m_executable).completeBaseName();
}

bool Autostart::SetStartWithWindows(const QString& baseName, const QString& folder,
                                    bool enable) const
{
    if (!isUsableBaseName(baseName) || m_entryFolder.isEmpty())
        return false;
    const QString path = entryPath(baseName);
    if (!enable)
        return !QFileInfo::exists(path) || QFile::remove(path);

    const QString text = desktopEntry(baseName, m_executable, folder);
    return !text.isEmpty() && writeEntryFile(m_entryFolder, path, text.toUtf8());
}

std::optional<QByteArray> Autostart::savedEntry(const QString& baseName) const
{
    QFile file(entryPath(baseName));
    if (!isUsableBaseName(baseName) || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

void Autostart::restoreEntry(const QString& baseName, const std::optional<QByteArray>& saved) const
{
    if (!isUsableBaseName(baseName) || m_entryFolder.isEmpty())
        return;
    const QString path = entryPath(baseName);
    if (saved)
        writeEntryFile(m_entryFolder, path, *saved);
    else
        QFile::remove(path);
}

QString Autostart::execValue(const QString& program)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool quote = false;
    for (const QChar c : program) {
        if (reserved.contains(c)) {
            quote = true;
            break;
        }
    }
    QString arg;
    if (quote) {
        arg.reserve(program.size() + 8);
        arg += QLatin1Char('"');
        for (const QChar c : program) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                arg += QLatin1Char('\\');
            arg += c;
        }
        arg += QLatin1Char('"');
    } else {
        arg = program;
    }
    // Field codes start with "%"; a literal one is doubled.
    arg.replace(QLatin1Char('%'), QLatin1String("%%"));
    return entryValue(arg);
}

QString Autostart::desktopEntry(const QString& name, const QString& executable,
                                const QString& folder)
{
    if (name.isEmpty() || executable.isEmpty() || hasControlCharacter(name) ||
        hasControlCharacter(executable) || hasControlCharacter(folder))
        return QString();
    QString text = QStringLiteral("[Desktop Entry]\nType=Application\n");
    text += QStringLiteral("Name=") + entryValue(name) + QLatin1Char('\n');
    text += QStringLiteral("Exec=") + execValue(executable) + QLatin1Char('\n');
    if (!folder.trimmed().isEmpty())
        text +=
            QStringLiteral("Path=") + entryValue(QDir(folder).absolutePath()) + QLatin1Char('\n');
    return text;
}
