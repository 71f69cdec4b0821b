#pragma once

#include <QDialog>

#include <functional>

class DocumentFetcher;
class MailingListSignup;
class Prompts;
class QLabel;
class QLineEdit;
class QPushButton;
class SettingsStore;

// "Product Updates": asks for an e-mail address and signs it up for the mailing list. Shown at
// start-up while EMR is below 2.
class frmEmail final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmEmail)

public:
    static const QString InvalidAddressText; // "Invalid e-mail address."

    frmEmail(MailingListSignup& signup, Prompts& prompts, QWidget* parent = nullptr);
    ~frmEmail() override;

    // The start-up step: when EMR is below 2, opens the dialog through run and returns once it
    // has closed.
    static void showIfDue(SettingsStore& store, DocumentFetcher& fetcher, const QString& serviceUrl,
                          Prompts& prompts, const std::function<int(QDialog&)>& run,
                          QWidget* parent);

    void Form_Load();
    void cmdOK_Click();
    void cmdCancel_Click();

    QLabel* Picture1 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* txtEmail = nullptr;
    QLabel* Label4 = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdCancel = nullptr;

public slots:
    // Closing is refused while the address is being sent.
    void reject() override;

private:
    MailingListSignup& m_signup;
    Prompts& m_prompts;
    bool m_sending = false;
};
