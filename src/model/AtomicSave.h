#pragma once

#include <QByteArray>
#include <QString>

namespace AtomicSave {

// Writes bytes to path through a temporary file that replaces the old one only once it is
// complete. Returns "" on success, else one line for the status text ("Could not save NAME:
// reason"). On failure the old file stays as it was.
QString write(const QString& path, const QByteArray& bytes);

} // namespace AtomicSave
