// The reference service's request handling: raw bytes sent to it over a loopback connection,
// ended by a half-close. Every request must end in an answer or a closed connection (never a
// hang), answers must be well-formed, and the mailing-list file must only ever gain clean lines.
#include "FuzzCheck.h"

#include "service/ReferenceService.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTcpSocket>
#include <QTimer>

#include <cstddef>
#include <cstdint>
#include <sys/socket.h>
#include <unistd.h>

namespace {

ReferenceService* service = nullptr;
QString mailList;

QString writeTemp(const char* name, const QByteArray& content)
{
    const QString path =
        QDir::tempPath() +
        QStringLiteral("/fuzz_refservice.%1.%2").arg(qint64(::getpid())).arg(QLatin1String(name));
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
    return path;
}

void removeTemps()
{
    for (const char* name : {"list", "regions", "mail"}) {
        QFile::remove(QDir::tempPath() + QStringLiteral("/fuzz_refservice.%1.%2")
                                             .arg(qint64(::getpid()))
                                             .arg(QLatin1String(name)));
    }
}

qsizetype headerValue(QByteArrayView head, const char* name, QByteArray* value)
{
    for (QByteArrayView line : head.toByteArray().split('\n')) {
        line = line.trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.first(colon).compare(name, Qt::CaseInsensitive) == 0) {
            *value = line.sliced(colon + 1).trimmed().toByteArray();
            return 1;
        }
    }
    return 0;
}

// Splits the bytes received into answers and checks each one.
void checkAnswers(const QByteArray& received)
{
    qsizetype pos = 0;
    while (pos < received.size()) {
        const QByteArrayView rest = QByteArrayView(received).sliced(pos);
        FUZZ_CHECK(rest.startsWith("HTTP/1.1 "));
        const qsizetype headEnd = rest.indexOf("\r\n\r\n");
        FUZZ_CHECK(headEnd > 0);
        const QByteArrayView head = rest.first(headEnd);
        QByteArray length;
        FUZZ_CHECK(headerValue(head, "Content-Length", &length));
        bool ok = false;
        const qsizetype bodySize = length.toLongLong(&ok);
        FUZZ_CHECK(ok && bodySize >= 0 && headEnd + 4 + bodySize <= rest.size());
        const QByteArrayView body = rest.sliced(headEnd + 4, bodySize);
        if (body.startsWith("GATEWAY_INTERFACE=")) {
            // Only the verdict line may say PROXY, whatever the request echoed.
            QByteArrayView echoed = body;
            if (echoed.endsWith("ANONYMITY=ELITE PROXY\n"))
                echoed.chop(int(sizeof "ANONYMITY=ELITE PROXY\n" - 1));
            FUZZ_CHECK(!echoed.toByteArray().toUpper().contains("PROXY"));
        }
        pos += headEnd + 4 + bodySize;
    }
}

void checkMailList()
{
    QFile file(mailList);
    FUZZ_CHECK(file.open(QIODevice::ReadWrite));
    const QByteArray content = file.readAll();
    FUZZ_CHECK(content.isEmpty() || content.endsWith('\n'));
    for (const QByteArray& line : content.split('\n')) {
        for (char c : line)
            FUZZ_CHECK(uchar(c) >= 0x20 && uchar(c) != 0x7F);
    }
    file.resize(0);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    removeTemps();
    std::atexit(removeTemps);
    ReferenceService::Options options;
    options.listFile = writeTemp(
        "list",
        "203.0.113.1:80|1|100|2024-04-30 12:00:00|HTTP|Yes|Yes|Yes|Yes|No|Here|Anonymous proxy|\n");
    options.regionsFile = writeTemp("regions", "203.0.113.1:80\tSomewhere, Else\n");
    mailList = writeTemp("mail", {});
    options.mailListFile = mailList;
    service = new ReferenceService;
    FUZZ_CHECK(service->start(options));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, service->port());
    FUZZ_CHECK(client.waitForConnected(5000));
    qint64 sent = 0;
    while (sent < qint64(size)) {
        const qint64 n =
            ::send(int(client.socketDescriptor()), data + sent, size - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break; // the service may close on a bad request before reading all of it
        sent += n;
    }
    ::shutdown(int(client.socketDescriptor()), SHUT_WR);

    QByteArray received;
    QEventLoop loop;
    QObject::connect(&client, &QTcpSocket::readyRead, &loop, [&] { received += client.readAll(); });
    QObject::connect(&client, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    limit.start(10000);
    if (client.state() == QAbstractSocket::ConnectedState)
        loop.exec();
    received += client.readAll();
    // The request ended with the half-close: the service must have answered and let go by now.
    FUZZ_CHECK(limit.isActive());
    checkAnswers(received);
    checkMailList();
    return 0;
}
