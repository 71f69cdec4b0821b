#pragma once

#include <QString>

#include <utility>

// Whether an operation worked and, when it did not, one line saying why (for the status text or
// a message box).
class Result final
{
public:
    Result() = default;

    static Result success() { return Result(); }
    static Result failure(QString message) { return Result(std::move(message)); }

    bool ok() const { return m_ok; }
    const QString& message() const { return m_message; } // "" when ok()

private:
    explicit Result(QString message) : m_ok(false), m_message(std::move(message)) {}

    bool m_ok = true;
    QString m_message;
};
