#pragma once

#include <QObject>

// The Stop command's flag. Long work looks at it between steps; a wait that sleeps in an event
// loop listens for requested(), so that it looks at once rather than at its next wake-up.
class StopFlag final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(StopFlag)

public:
    explicit StopFlag(QObject* parent = nullptr) : QObject(parent) {}

    bool isRequested() const { return m_requested; }
    void request()
    {
        m_requested = true;
        emit requested();
    }
    void clear() { m_requested = false; }

signals:
    void requested();

private:
    bool m_requested = false;
};
