#include "system/SystemProxySwitch.h"

#include "system/FileProxyBackend.h"
#include "system/GnomeProxyBackend.h"
#include "system/KdeProxyBackend.h"

#include "model/ProxyEndpoint.h"

#include <QSettings>
#include <QStandardPaths>

namespace {

const QString contractGroup = QStringLiteral("Internet Settings");
const QLatin1String enableKey("ProxyEnable");
const QLatin1String overrideKey("ProxyOverride");
const QLatin1String serverKey("ProxyServer");

// What a backend captured lives in group [Saved <backend>]; the marker key tells an empty capture
// from none.
const QLatin1String savedMarker("Captured");

QString savedGroup(const DesktopProxyBackend& backend)
{
    return QStringLiteral("Saved ") + backend.name();
}

bool namesSocks(const QString& type)
{
    return type.contains(QLatin1String("SOCKS"), Qt::CaseInsensitive);
}

QString systemProxyMessage(const QString& reason)
{
    return QStringLiteral("System proxy: ") + reason;
}

Result unwritable(const QString& contractPath)
{
    return Result::failure(systemProxyMessage(QStringLiteral("cannot write ") + contractPath));
}

bool isDesktop(const QStringList& desktops, const QStringList& names)
{
    for (const QString& desktop : desktops) {
        for (const QString& name : names) {
            if (desktop.contains(name, Qt::CaseInsensitive))
                return true;
        }
    }
    return false;
}

} // namespace

QString SystemProxySwitch::defaultContractPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Corvatel/InternetSettings.conf");
}

QString SystemProxySwitch::proxyServerValue(const QString& proxy, const QString& type)
{
    if (namesSocks(type))
        return QStringLiteral("socks=") + proxy;
    return proxy;
}

std::unique_ptr<DesktopProxyBackend> SystemProxySwitch::backendFor(const QString& choice)
{
    const QString wanted = choice.trimmed().toLower();
    if (wanted == QLatin1String("file"))
        return std::make_unique<FileProxyBackend>();
    if (wanted == QLatin1String("gnome"))
        return std::make_unique<GnomeProxyBackend>();
    if (wanted == QLatin1String("kde"))
        return std::make_unique<KdeProxyBackend>();

    // XDG_CURRENT_DESKTOP is a colon-separated list, e.g. "ubuntu:GNOME" or "X-Cinnamon".
    const QStringList desktops =
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':', Qt::SkipEmptyParts);
    if (isDesktop(desktops,
                  {QStringLiteral("GNOME"), QStringLiteral("Unity"), QStringLiteral("Cinnamon"),
                   QStringLiteral("MATE"), QStringLiteral("Budgie"), QStringLiteral("Pantheon")}) &&
        GnomeProxyBackend::isAvailable())
        return std::make_unique<GnomeProxyBackend>();
    if (isDesktop(desktops, {QStringLiteral("KDE")}) && KdeProxyBackend::isAvailable())
        return std::make_unique<KdeProxyBackend>();
    return std::make_unique<FileProxyBackend>();
}

SystemProxySwitch::SystemProxySwitch(const QString& contractPath,
                                     std::unique_ptr<DesktopProxyBackend> backend)
    : m_contractPath(contractPath), m_backend(std::move(backend))
{
    if (!m_backend)
        m_backend = std::make_unique<FileProxyBackend>();
}

SystemProxySwitch::~SystemProxySwitch() = default;

Result SystemProxySwitch::switchOn(const QString& proxy, const QString& type)
{
    // Nothing is written for what cannot be switched on: the contract would name a proxy that no
    // program can use.
    QString host;
    quint16 port = 0;
    if (!ProxyEndpoint::parse(proxy, &host, &port))
        return Result::failure(
            systemProxyMessage(QStringLiteral("'%1' is not host:port").arg(proxy)));

    QSettings contract(m_contractPath, QSettings::IniFormat);
    contract.beginGroup(savedGroup(*m_backend));
    // A second switch-on finds our own proxy on the desktop; the first save is the one to keep.
    if (!contract.contains(savedMarker)) {
        DesktopProxyBackend::Saved saved;
        const Result captured = m_backend->capture(saved);
        if (!captured.ok())
            return Result::failure(systemProxyMessage(captured.message()));
        for (auto it = saved.cbegin(); it != saved.cend(); ++it)
            contract.setValue(it.key(), it.value());
        contract.setValue(savedMarker, QStringLiteral("1"));
    }
    contract.endGroup();

    // The desktop is changed only once its previous configuration is safely on disk.
    contract.sync();
    if (contract.status() != QSettings::NoError)
        return unwritable(m_contractPath);
    const Result applied = m_backend->apply(host, port, namesSocks(type));
    if (!applied.ok())
        return Result::failure(systemProxyMessage(applied.message()));

    contract.beginGroup(contractGroup);
    contract.setValue(enableKey, QStringLiteral("1"));
    contract.setValue(overrideKey, QStringLiteral("<local>"));
    contract.setValue(serverKey, proxyServerValue(proxy, type));
    contract.endGroup();
    contract.sync();
    if (contract.status() != QSettings::NoError)
        return unwritable(m_contractPath);
    return Result::success();
}

Result SystemProxySwitch::switchOff()
{
    QSettings contract(m_contractPath, QSettings::IniFormat);
    contract.beginGroup(contractGroup);
    contract.setValue(enableKey, QStringLiteral("0"));
    contract.remove(overrideKey);
    contract.remove(serverKey);
    contract.endGroup();

    Result restored;
    contract.beginGroup(savedGroup(*m_backend));
    if (contract.contains(savedMarker)) {
        DesktopProxyBackend::Saved saved;
        const QStringList keys = contract.childKeys();
        for (const QString& key : keys) {
            if (key != savedMarker)
                saved.insert(key, contract.value(key).toString());
        }
        // Kept after a failed restore, so that the next switch-off can try again.
        restored = m_backend->restore(saved);
        if (restored.ok())
            contract.remove(QString());
    }
    contract.endGroup();

    contract.sync();
    if (!restored.ok())
        return Result::failure(systemProxyMessage(restored.message()));
    if (contract.status() != QSettings::NoError)
        return unwritable(m_contractPath);
    return Result::success();
}

QString SystemProxySwitch::value(const QString& name) const
{
    const QSettings contract(m_contractPath, QSettings::IniFormat);
    return contract.value(contractGroup + u'/' + name).toString();
}
