#include "testing/frmJudges.h"

#include "base/Prompts.h"
#include "service/HttpFetcher.h"
#include "testing/CurlEngine.h"
#include "testing/JudgeEcho.h"
#include "testing/JudgeList.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <utility>

namespace {

const QString Caption = QStringLiteral("Judges");
const QString NoJudgesNote =
    QStringLiteral("No judges: proxy tests use the service's own gate page.");

} // namespace

frmJudges::frmJudges(Prompts& prompts, QWidget* parent) : QDialog(parent), m_prompts(prompts)
{
    setObjectName(QStringLiteral("frmJudges"));
    setWindowTitle(Caption);
    setModal(true);
    m_engine = new CurlEngine(this);

    lstJudges = new QTreeWidget(this);
    lstJudges->setObjectName(QStringLiteral("lstJudges"));
    lstJudges->setColumnCount(2);
    lstJudges->setHeaderLabels({QStringLiteral("Judge"), QStringLiteral("State")});
    lstJudges->setRootIsDecorated(false);
    lstJudges->setUniformRowHeights(true);
    lstJudges->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lstJudges->header()->setStretchLastSection(true);
    lstJudges->setColumnWidth(UrlColumn, 340);

    lblStatus = new QLabel(this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setWordWrap(true);
    lblStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto button = [this](const char* name, const QString& caption) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        return b;
    };
    cmdAdd = button("cmdAdd", QStringLiteral("Add…"));
    cmdRemove = button("cmdRemove", QStringLiteral("Remove"));
    cmdCheck = button("cmdCheck", QStringLiteral("Check now"));
    cmdClose = button("cmdClose", QStringLiteral("Close"));
    cmdClose->setDefault(true);
    connect(cmdAdd, &QPushButton::clicked, this, [this] { cmdAdd_Click(); });
    connect(cmdRemove, &QPushButton::clicked, this, [this] { cmdRemove_Click(); });
    connect(cmdCheck, &QPushButton::clicked, this, [this] { cmdCheck_Click(); });
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(lstJudges, &QTreeWidget::itemSelectionChanged, this, [this] { updateButtons(); });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdAdd);
    buttons->addWidget(cmdRemove);
    buttons->addWidget(cmdCheck);
    buttons->addStretch(1);
    buttons->addWidget(cmdClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lstJudges, 1);
    layout->addWidget(lblStatus);
    layout->addLayout(buttons);

    resize(640, 360);
    updateButtons();
}

frmJudges::~frmJudges()
{
    // The fetcher goes with the dialog's children, after this object is gone: nothing may call
    // back into it by then.
    stopChecks();
}

void frmJudges::Form_Load()
{
    stopChecks();
    lstJudges->clear();
    const QString path = JudgeList::defaultPath();
    const JudgeList::Loaded loaded = JudgeList::load(path);
    for (const QString& url : loaded.urls)
        addItem(url);

    QStringList notes;
    if (!loaded.read.ok())
        notes << loaded.read.message();
    for (const JudgeList::Refused& refused : loaded.refused)
        notes << JudgeList::refusedText(path, refused);
    if (!loaded.refused.isEmpty())
        notes << QStringLiteral("Lines that are no URL are dropped at the next change.");
    if (loaded.urls.isEmpty() && loaded.read.ok())
        notes << NoJudgesNote;
    lblStatus->setText(notes.join(u'\n'));
    updateButtons();
}

QStringList frmJudges::urls() const
{
    QStringList list;
    for (int i = 0; i < lstJudges->topLevelItemCount(); ++i)
        list << lstJudges->topLevelItem(i)->text(UrlColumn);
    return list;
}

void frmJudges::addItem(const QString& url)
{
    auto* item = new QTreeWidgetItem(lstJudges, {url, QString()});
    item->setToolTip(UrlColumn, url);
}

void frmJudges::cmdAdd_Click()
{
    bool ok = false;
    const QString url = m_prompts
                            .input(QStringLiteral("The judge's URL (an echo page, http or https):"),
                                   QStringLiteral("Add Judge"), QStringLiteral("http://"), &ok)
                            .trimmed();
    if (!ok || url.isEmpty())
        return;
    if (!JudgeList::isJudgeUrl(url)) {
        m_prompts.critical(QStringLiteral("\"%1\" is no http(s) URL; it was not added.").arg(url),
                           Caption);
        return;
    }
    if (urls().contains(url)) {
        m_prompts.message(QStringLiteral("%1 is listed already.").arg(url), Caption);
        return;
    }
    addItem(url);
    save();
}

void frmJudges::cmdRemove_Click()
{
    const QList<QTreeWidgetItem*> selected = lstJudges->selectedItems();
    if (selected.isEmpty())
        return;
    for (QTreeWidgetItem* item : selected) {
        const auto check = m_checks.find(item);
        if (check != m_checks.end()) {
            check->second();
            m_checks.erase(check);
        }
        delete item;
    }
    save();
}

void frmJudges::cmdCheck_Click()
{
    if (isChecking())
        return;
    for (int i = 0; i < lstJudges->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = lstJudges->topLevelItem(i);
        item->setText(StateColumn, QStringLiteral("checking…"));
        item->setForeground(StateColumn, palette().placeholderText());
        // A fresh token each time: only an answer to this very request can hold it.
        const QString token = JudgeEcho::newToken();
        const QUrl url(JudgeEcho::withToken(item->text(UrlColumn), token));
        m_checks[item] = startFetch(
            url, [this, item, token](const Answer& answer) { checkFinished(item, token, answer); });
    }
    updateButtons();
}

frmJudges::Cancel frmJudges::startFetch(const QUrl& url, std::function<void(const Answer&)> done)
{
    ProbeRequest request;
    request.url = url;
    request.timeoutMs = CheckTimeoutSeconds * 1000;
    request.userAgent = HttpFetcher::UserAgent;
    const quint64 id =
        m_engine->start(request, [done = std::move(done)](const ProbeResult& result) {
            Answer answer;
            answer.status = result.status;
            if (!result.ok)
                answer.failure =
                    result.timedOut
                        ? QStringLiteral("no complete answer within %1 s").arg(CheckTimeoutSeconds)
                        : result.errorText;
            answer.body = result.body;
            done(answer);
        });
    return [this, id] { m_engine->cancel(id); };
}

void frmJudges::checkFinished(QTreeWidgetItem* item, const QString& token, const Answer& answer)
{
    m_checks.erase(item);
    const JudgeEcho::DirectCheck check =
        JudgeEcho::checkDirect(answer.failure, answer.status, answer.body, token, false);
    const bool works = check.works;
    const QString state = !works ? check.failure
                          : check.userAddress.isEmpty()
                              ? QStringLiteral("works")
                              : QStringLiteral("works (sees you as %1)").arg(check.userAddress);
    item->setText(StateColumn, state);
    item->setToolTip(StateColumn, state);
    item->setForeground(StateColumn, works ? QBrush(Qt::darkGreen) : QBrush(Qt::darkRed));
    updateButtons();
}

void frmJudges::stopChecks()
{
    auto checks = std::exchange(m_checks, {});
    for (auto& [item, cancel] : checks) {
        cancel();
        item->setText(StateColumn, QString());
    }
    if (cmdCheck)
        updateButtons();
}

void frmJudges::done(int result)
{
    stopChecks();
    QDialog::done(result);
}

void frmJudges::save()
{
    const Result saved = JudgeList::save(JudgeList::defaultPath(), urls());
    lblStatus->setText(saved.ok() && lstJudges->topLevelItemCount() == 0 ? NoJudgesNote
                                                                         : saved.message());
    if (!saved.ok())
        m_prompts.critical(saved.message(), Caption);
    updateButtons();
}

void frmJudges::updateButtons()
{
    cmdRemove->setEnabled(!lstJudges->selectedItems().isEmpty());
    cmdCheck->setEnabled(lstJudges->topLevelItemCount() > 0 && !isChecking());
}
