#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real HTTP proxy for tests: tinyproxy in the foreground on a free port of 127.0.0.1 with a
// generated configuration; stopped when the object goes. Typical use:
//
//     if (TinyProxy::executable().isEmpty())
//         QSKIP("tinyproxy is not installed (test.sh installs it)");
//     TinyProxy proxy;
//     QVERIFY2(proxy.start(), qPrintable(proxy.errorString()));
//     ... fetch through proxy.address() ...
class TinyProxy final
{
    Q_DISABLE_COPY_MOVE(TinyProxy)

public:
    TinyProxy() = default;
    ~TinyProxy();

    // The tinyproxy program on the PATH or in the usual places; empty when it is not installed.
    static QString executable();

    // Starts the proxy and waits until its port accepts connections.
    bool start();
    quint16 port() const { return m_port; }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    QString errorString() const { return m_error; }
    // What tinyproxy wrote so far (warnings and errors only).
    QByteArray output() const { return m_output; }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
    QByteArray m_output;
};
