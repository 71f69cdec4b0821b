#include "import/frmImport.h"

#include "base/Prompts.h"
#include "base/WindowHost.h"
#include "import/TextLineReader.h"
#include "service/DocumentFetcher.h"
#include "views/ProxyGrid.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace {

const QString Caption = QStringLiteral("Proxy Import Sources");

constexpr int ListTop = 120;
constexpr int ButtonWidth = 1000;
constexpr int ButtonHeight = 375;
constexpr int ButtonGap = 100;
constexpr int FrameMargin = 120;
constexpr int ProgressHeight = 240;

} // namespace

frmImport::frmImport(WindowHost& host, ImportedListStore& store, ImportedListUndo& undo,
                     DocumentFetcher& fetcher, Prompts& prompts, QWidget* parent)
    : QDialog(parent), m_host(host), m_store(store), m_undo(undo), m_fetcher(fetcher),
      m_prompts(prompts)
{
    setObjectName(QStringLiteral("frmImport"));
    setWindowTitle(Caption);
    setModal(true);

    SBList1 = new QListWidget(this);
    SBList1->setObjectName(QStringLiteral("SBList1"));
    SBList1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    SBList1->setUniformItemSizes(true);
    SBList1->installEventFilter(this);

    Frame1 = new QGroupBox(this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    auto button = [this](const char* name, const QString& caption) {
        auto* b = new QPushButton(caption, Frame1);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        return b;
    };
    cmdADD = button("cmdADD", QStringLiteral("Add"));
    cmdFile = button("cmdFile", QStringLiteral("File Add"));
    cmdDelete = button("cmdDelete", QStringLiteral("Delete"));
    cmdScan = button("cmdScan", QStringLiteral("Scan"));
    commandOK = button("commandOK", QStringLiteral("OK"));
    commandOK->setDefault(true);
    connect(cmdADD, &QPushButton::clicked, this, [this] { cmdADD_Click(); });
    connect(cmdFile, &QPushButton::clicked, this, [this] { cmdFile_Click(); });
    connect(cmdDelete, &QPushButton::clicked, this, [this] { cmdDelete_Click(); });
    connect(cmdScan, &QPushButton::clicked, this, [this] { cmdScan_Click(); });
    connect(commandOK, &QPushButton::clicked, this, [this] { commandOK_Click(); });

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setRange(0, 1);
    ProgressBar1->setValue(0);

    const double tpp = ProxyGrid::twipsPerPixel(this);
    resize(int(std::lround(DesignWidth / tpp)), int(std::lround(DesignHeight / tpp)));
    setMinimumSize(int(std::lround(6000 / tpp)), int(std::lround(3600 / tpp)));
}

frmImport::~frmImport() = default;

void frmImport::Form_Load()
{
    m_host.showImportedPage();
    m_beforeScans.reset();
    m_scanned = 0;
    setWindowTitle(Caption);
    ProgressBar1->setValue(0);
    if (const QScreen* screen = this->screen()) {
        const QRect area = screen->geometry();
        move(area.x() + area.width() / 2 - width() / 2,
             area.y() + area.height() / 2 - height() / 2);
    }
    const Result loaded = m_sources.loadFromFile(SourceList::defaultPath());
    SBList1->clear();
    SBList1->addItems(m_sources.entries());
    if (!loaded.ok())
        m_host.setStatusText(loaded.message());
}

void frmImport::Form_Resize()
{
    const double tpp = ProxyGrid::twipsPerPixel(this);
    const auto px = [tpp](double twips) { return int(std::lround(twips / tpp)); };
    const double width = this->width() * tpp;
    const double height = this->height() * tpp;

    // The list keeps the same margin on both sides.
    const double listWidth = std::max(width - 120, 0.0);
    const double listLeft = (width - listWidth) / 2;
    const double listHeight = height * 0.7;
    SBList1->setGeometry(px(listLeft), px(ListTop), px(listWidth), px(listHeight));

    const int frameWidth = 2 * FrameMargin + 5 * ButtonWidth + 4 * ButtonGap;
    const int frameHeight = 2 * FrameMargin + ButtonHeight;
    const double frameTop = ListTop + listHeight + 100;
    Frame1->setGeometry(px(width / 2 - frameWidth / 2.0), px(frameTop), px(frameWidth),
                        px(frameHeight));
    int left = FrameMargin;
    for (QPushButton* b : {cmdADD, cmdFile, cmdDelete, cmdScan, commandOK}) {
        b->setGeometry(px(left), px(FrameMargin), px(ButtonWidth), px(ButtonHeight));
        left += ButtonWidth + ButtonGap;
    }
    ProgressBar1->setGeometry(px(listLeft), px(frameTop + frameHeight + 100), px(listWidth),
                              px(ProgressHeight));
}

void frmImport::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    Form_Resize();
}

void frmImport::cmdADD_Click()
{
    if (m_busy)
        return;
    bool ok = false;
    const QString url =
        m_prompts.input(QStringLiteral("Import proxy source page URL"),
                        QStringLiteral("Proxy Page"), QStringLiteral("http://"), &ok);
    if (ok && m_sources.add(url))
        SBList1->addItem(url);
    saveSources();
}

void frmImport::cmdFile_Click()
{
    if (m_busy)
        return;
    const QString path = m_prompts.openFile(QStringLiteral("Open"), QStringLiteral("Text (*.txt)"));
    if (!path.isEmpty()) {
        setBusy(true);
        const SourceList::FileAdd added = m_sources.addFromFile(path, m_host.stopFlag());
        SBList1->addItems(added.added);
        setBusy(false);
        if (!added.read.ok()) {
            m_host.setStatusText(added.read.message());
        } else if (added.skipped > 0) {
            m_host.setStatusText(QStringLiteral("%1 line(s) skipped: binary data or longer than "
                                                "%2 bytes.")
                                     .arg(added.skipped)
                                     .arg(TextLineReader::MaxLineBytes));
        }
        if (added.stopped) {
            m_host.clearStopRequested();
            leaveIfAsked();
            return;
        }
    }
    saveSources();
    leaveIfAsked();
}

void frmImport::cmdDelete_Click()
{
    if (m_busy)
        return;
    std::vector<int> selected;
    for (int i = 0; i < SBList1->count(); ++i) {
        if (SBList1->item(i)->isSelected())
            selected.push_back(i);
    }
    m_sources.removeMany(selected);
    // Item by item is fine for a few; a long selection rebuilds the list in one go.
    if (selected.size() > 64) {
        SBList1->clear();
        SBList1->addItems(m_sources.entries());
    } else {
        for (auto it = selected.rbegin(); it != selected.rend(); ++it)
            delete SBList1->takeItem(*it);
    }
    // Otherwise the deleted pages would come back at the next opening.
    saveSources();
}

void frmImport::cmdScan_Click()
{
    if (m_busy)
        return;
    setBusy(true);
    if (!m_beforeScans)
        m_beforeScans = m_undo.before();
    SourceScanner scanner(m_store, m_fetcher, m_host, *this);
    const SourceScanner::Outcome outcome = scanner.cmdScan_Click();
    m_scanned += scanner.newProxyCount;
    if (outcome.scanned > 0)
        sourcesScanned = true;
    setBusy(false);
    if (m_leave == Leave::No)
        m_prompts.message(QStringLiteral("Done."), QStringLiteral("Corvatel"));
    leaveIfAsked();
}

void frmImport::commandOK_Click()
{
    if (m_busy) {
        requestLeave(Leave::Ok);
        return;
    }
    if (sourcesScanned)
        m_host.reloadLists();
    accept();
}

void frmImport::reject()
{
    if (m_busy) {
        requestLeave(Leave::Close);
        return;
    }
    QDialog::reject();
}

// The step is kept once the dialog is gone: the reload that shows the new proxies comes first.
void frmImport::done(int result)
{
    QDialog::done(result);
    if (m_beforeScans && m_scanned > 0)
        m_undo.keep(std::move(*m_beforeScans),
                    ImportedListUndo::change(QStringLiteral("import"), m_scanned));
    m_beforeScans.reset();
    m_scanned = 0;
}

void frmImport::keyPressEvent(QKeyEvent* event)
{
    // Esc stops a scan and leaves the dialog open; the frame's close button still leaves.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier && m_busy) {
        m_host.requestStop();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool frmImport::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == SBList1 && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers held =
            key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
        if (key->key() == Qt::Key_A && held == Qt::ControlModifier) {
            SBList1->selectAll();
            return true;
        }
        if (key->key() == Qt::Key_Delete && SBList1->currentRow() >= 0) {
            cmdDelete_Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmImport::setBusy(bool busy)
{
    m_busy = busy;
    for (QPushButton* b : {cmdADD, cmdFile, cmdDelete, cmdScan})
        b->setEnabled(!busy);
}

void frmImport::requestLeave(Leave leave)
{
    m_leave = leave;
    m_host.requestStop();
}

void frmImport::leaveIfAsked()
{
    const Leave leave = std::exchange(m_leave, Leave::No);
    if (leave == Leave::Ok)
        commandOK_Click();
    else if (leave == Leave::Close)
        QDialog::reject();
}

void frmImport::saveSources()
{
    const Result saved = m_sources.saveToFile(SourceList::defaultPath());
    if (!saved.ok())
        m_host.setStatusText(saved.message());
}

int frmImport::sourceCount() const
{
    return SBList1->count();
}

QString frmImport::source(int index) const
{
    const QListWidgetItem* item = SBList1->item(index);
    return item ? item->text() : QString();
}

bool frmImport::isSourceSelected(int index) const
{
    const QListWidgetItem* item = SBList1->item(index);
    return item && item->isSelected();
}

void frmImport::selectAllSources()
{
    SBList1->selectAll();
}

void frmImport::setSourcesEnabled(bool enabled)
{
    SBList1->setEnabled(enabled);
}

void frmImport::setProgressMaximum(int maximum)
{
    ProgressBar1->setRange(0, maximum);
}

void frmImport::setProgressValue(int value)
{
    ProgressBar1->setValue(value);
}

void frmImport::setTitle(const QString& title)
{
    setWindowTitle(title);
}
