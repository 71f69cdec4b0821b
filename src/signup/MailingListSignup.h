#pragma once

#include <QString>

class DocumentFetcher;
class SettingsStore;

// Registering an e-mail address with the service's mailing list, and the EMR counter that keeps
// the sign-up dialog to the first two starts (or none after a sign-up).
class MailingListSignup final
{
public:
    static constexpr int ShowUntil = 2; // EMR from which the dialog stays closed

    MailingListSignup(SettingsStore& store, DocumentFetcher& fetcher, const QString& serviceUrl);
    MailingListSignup(const MailingListSignup&) = delete;
    MailingListSignup& operator=(const MailingListSignup&) = delete;

    // EMR as a whole number; absent or not a number counts as 0.
    static int shownCount(const SettingsStore& store);
    static bool due(const SettingsStore& store) { return shownCount(store) < ShowUntil; }

    // One "@" anywhere is enough.
    static bool isAddress(const QString& email) { return email.contains(u'@'); }
    // "/maillist.php?email=" + the address percent-encoded as one query value (a blank is
    // "%20"), so "&", "+", "#" or "=" in it cannot change the request.
    static QString requestUrl(const QString& serviceUrl, const QString& email);

    // The dialog opened: EMR goes up by one.
    void countOpening();
    // Stores the address, sends it and waits for the answer (which is not looked at; a failure
    // counts as done), then stores EMR = 2.
    void send(const QString& email);

private:
    SettingsStore& m_store;
    DocumentFetcher& m_fetcher;
    QString m_serviceUrl;
};
