#pragma once

#include "base/Deployment.h"

#include <QString>
#include <QUrl>

#include <functional>

class Prompts;

// Hands web addresses to the desktop's default handler (normally the browser): the maker's
// pages, the IP-echo page and the IP-information page for a proxy. A failure is reported once,
// in a message box.
class WebLookups final
{
public:
    // Opens a URL with the default handler; false when that failed.
    using Opener = std::function<bool(const QUrl&)>;

    enum class Page { About, Support, WhatIsMyIp, Facebook, Twitter };

    static const QString OpenFailedText;  // "Error Executing Application or File Not Found"
    static const QString InstallHintText; // the line below it: what to install

    // Without an opener, QDesktopServices::openUrl is used.
    WebLookups(const Deployment& deployment, Prompts& prompts, Opener opener = {});
    WebLookups(const WebLookups&) = delete;
    WebLookups& operator=(const WebLookups&) = delete;

    void setOpener(Opener opener);

    // The address each fixed page opens.
    static QString address(const Deployment& deployment, Page page);
    // The IP-information page's "/ip/" address for a proxy as its grid cell shows it: the
    // address without the port.
    static QString proxyInfoAddress(const QString& ipInfoUrl, const QString& proxyCell);

    void shellOpen(const QString& target);
    void open(Page page) { shellOpen(address(m_deployment, page)); }
    void menuGetINFO_Click(const QString& proxyCell)
    {
        shellOpen(proxyInfoAddress(m_deployment.ipInfoUrl, proxyCell));
    }

private:
    Deployment m_deployment;
    Prompts& m_prompts;
    Opener m_opener;
};
