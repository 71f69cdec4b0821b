#pragma once

#include "base/Deployment.h"
#include "settings/SettingsStore.h"
#include "shell/frmMain.h"
#include "support/ScriptedPrompts.h"
#include "support/WorkFolder.h"
#include "system/WebLookups.h"

#include <QDialog>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

// A main window over a fresh settings file and a fresh current directory (where proxy.lst
// lives). Ending the program only counts the request.
struct MainWindowFixture
{
    explicit MainWindowFixture(const Deployment& deployment = unreachableDeployment())
        : deployment(deployment), store(std::make_unique<SettingsStore>(
                                      work.filePath(QStringLiteral("config/Corvatel.conf"))))
    {}

    frmMain& create()
    {
        window = std::make_unique<frmMain>(deployment, *store, prompts);
        // The window's own way to end is kept when a test asks for it; the process never ends.
        if (ownEnd)
            window->setEndAtOnce([this] { endAtOnce(); });
        else
            window->setTerminate([this] { ++terminations; });
        // Pages are recorded, never handed to a browser.
        window->webLookups().setOpener([this](const QUrl& url) {
            opened << url.toString();
            return true;
        });
        // Modal dialogs are recorded and closed at once unless a test runs them itself.
        window->setDialogRunner([this](QDialog& dialog) {
            dialogs << dialog.objectName();
            return runDialog ? runDialog(dialog) : 0;
        });
        return *window;
    }

    // Nothing listens on port 9 of the loopback: every fetch fails at once.
    static Deployment unreachableDeployment()
    {
        Deployment d = Deployment::defaults();
        d.serviceUrl = QStringLiteral("http://127.0.0.1:9");
        d.ipInfoUrl = QStringLiteral("http://127.0.0.1:9/");
        d.whatIpUrl = d.ipInfoUrl;
        d.probeUrl = d.ipInfoUrl;
        d.systemProxy = QStringLiteral("file"); // never the desktop of whoever runs the tests
        return d;
    }

    // The window started on page `lastTab` (2: the imported one) with proxy.lst holding
    // `imported`; the service list is not asked for.
    frmMain& start(const QStringList& imported, int lastTab = 2)
    {
        writeList(imported);
        store->write(QStringLiteral("chkCOR"), QStringLiteral("0"));
        store->write(QStringLiteral("LastTab"), QString::number(lastTab));
        create().Form_Load();
        return *window;
    }

    QString listPath() const { return work.filePath(QStringLiteral("proxy.lst")); }
    // Stores the imported list as proxy.lst, one line each.
    void writeList(const QStringList& lines) const
    {
        work.write(QStringLiteral("proxy.lst"), (lines.join(u'\n') + u'\n').toUtf8());
    }

    WorkFolder work; // declared first: outlives the window
    Deployment deployment;
    std::unique_ptr<SettingsStore> store;
    ScriptedPrompts prompts;
    std::unique_ptr<frmMain> window;
    int terminations = 0;
    bool ownEnd = false;
    std::function<void()> endAtOnce;        // what ending from inside a routine does, with ownEnd
    QStringList dialogs;                    // object names of the modal dialogs shown
    QStringList opened;                     // pages handed to the browser
    std::function<int(QDialog&)> runDialog; // what a test does with one; default: close it
};
