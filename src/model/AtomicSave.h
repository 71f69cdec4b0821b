#pragma once

#include "base/Result.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace AtomicSave {

// Writes bytes to path through a temporary file that replaces the old one only once it is
// complete. A failure says "Could not save NAME: reason". On failure the old file stays as it
// was.
Result write(const QString& path, const QByteArray& bytes);

// The same, with the bytes made by content() and written and flushed to disk on a worker thread
// while serve() is called every few milliseconds on this one. Saves made this way reach the disk
// in the order they were asked for, also when one is asked for from inside another's serve().
// content() must not touch what this thread may change meanwhile. Call it from one thread only.
// Without serve() all of it happens here and now, unless such a save has not ended yet.
Result write(const QString& path, std::function<QByteArray()> content,
             const std::function<void()>& serve);

} // namespace AtomicSave
