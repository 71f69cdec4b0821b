#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <QUrl>

#include <functional>
#include <map>

class CurlEngine;
class Prompts;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// "Judges": the echo pages proxy tests fetch through the proxies, as kept in judges.lst. Every
// change is saved at once. "Check now" fetches each judge directly and shows beside it whether
// it works and which address it sees; the checks run in the background, and closing the dialog
// drops those still running.
class frmJudges final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmJudges)

public:
    static constexpr int CheckTimeoutSeconds = 15;
    enum Column { UrlColumn, StateColumn };

    explicit frmJudges(Prompts& prompts, QWidget* parent = nullptr);
    ~frmJudges() override;

    // Before every opening: the list from judges.lst, no states.
    void Form_Load();
    void cmdAdd_Click();
    void cmdRemove_Click();
    void cmdCheck_Click();
    bool isChecking() const { return !m_checks.empty(); }
    QStringList urls() const;

    void done(int result) override;

    QTreeWidget* lstJudges = nullptr;
    QLabel* lblStatus = nullptr;
    QPushButton* cmdAdd = nullptr;
    QPushButton* cmdRemove = nullptr;
    QPushButton* cmdCheck = nullptr;
    QPushButton* cmdClose = nullptr;

private:
    // What a fetch brought back: a status and body, or why there is none.
    struct Answer
    {
        int status = -1;
        QString failure; // set when no HTTP answer came
        QByteArray body;
    };
    using Cancel = std::function<void()>;

    // The only place that knows how a judge is fetched. done is not called after cancelling.
    Cancel startFetch(const QUrl& url, std::function<void(const Answer&)> done);
    void checkFinished(QTreeWidgetItem* item, const QString& token, const Answer& answer);
    void stopChecks();
    void addItem(const QString& url);
    void save();
    void updateButtons();

    Prompts& m_prompts;
    CurlEngine* m_engine = nullptr;
    std::map<QTreeWidgetItem*, Cancel> m_checks; // in flight
};
