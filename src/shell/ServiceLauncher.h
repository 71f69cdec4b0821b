#pragma once

#include "base/Result.h"

#include <QProcess>
#include <QString>
#include <QUrl>

#include <optional>

// Starts the bundled corvatel-service for this session when the program talks to the default
// local service and nothing answers there yet, so that a start from the desktop menu shows the
// sample list just as ./run.sh does, with its local sample proxy. What it started ends with the
// program.
class ServiceLauncher final
{
public:
    struct Layout
    {
        QString program;     // corvatel-service
        QString listFile;    // the sample list it serves
        QString regionsFile; // the locations it knows
        // The sample list names a working proxy on this loopback port: tinyproxy, started for
        // the session when it is installed and nothing answers there yet. Without it the list
        // is served without that proxy, so that it names nothing that is not running.
        quint16 sampleProxyPort = 8643;
        QString tinyproxy = QStringLiteral("tinyproxy"); // found on PATH unless a path
    };

    // The service and its data as installed next to `binDir`: <binDir>/corvatel-service and
    // <binDir>/../share/corvatel/. Empty when any of them is missing.
    static std::optional<Layout> installedLayout(const QString& binDir);

    ServiceLauncher() = default;
    ~ServiceLauncher();
    ServiceLauncher(const ServiceLauncher&) = delete;
    ServiceLauncher& operator=(const ServiceLauncher&) = delete;

    // Works when `serviceUrl` answers, either already or after starting the service from
    // `layout` on its loopback port. Sign-ups go to `mailListFile`. Waits at most `waitMs`.
    Result ensureRunning(const QUrl& serviceUrl, const Layout& layout, const QString& mailListFile,
                         int waitMs = 5000);

    // ensureRunning() with the service installed next to this program, its sign-ups kept in the
    // user's data folder. Works when there is no such service to start. binDir is where this
    // program lies; empty means the running program's folder.
    Result ensureBundledRunning(const QUrl& serviceUrl, const QString& binDir = QString());

    bool started() const { return m_process.state() != QProcess::NotRunning; }

    static bool answers(const QString& host, quint16 port, int waitMs);

private:
    // The list to serve: the layout's, or a copy in `folder` without the sample proxy when
    // nothing answers on its port.
    QString listToServe(const Layout& layout, const QString& folder);
    void startSampleProxy(const Layout& layout, const QString& folder);

    QProcess m_process;
    QProcess m_sampleProxy;
};
