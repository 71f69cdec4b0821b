#pragma once

#include <QString>

// Where the program's outside services live. Read once at start from the environment
// (CORVATEL_SERVICE_URL, ...), with defaults for everything.
struct Deployment
{
    QString serviceUrl; // proxy-list service base URL, no trailing "/"
    QString ipInfoUrl;  // page that shows the caller's address in a link "/ip/<address>"
    QString whatIpUrl;  // IP-echo page opened in the browser
    QString probeUrl;   // reachability probe page
    QString siteUrl;
    QString facebookUrl;
    QString twitterUrl;
    QString systemProxy; // auto, file, gnome, kde

    static Deployment defaults();
    static Deployment fromEnvironment();
};
