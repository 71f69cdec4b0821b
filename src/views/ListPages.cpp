#include "views/ListPages.h"

#include "base/WindowHost.h"
#include "base/YieldClock.h"
#include "service/ServiceListLoader.h"
#include "views/ProxyGrid.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QCursor>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSet>

#include <array>

namespace {

// Keeps a grid disabled for a while; afterwards it is enabled and, if it had it, gets the
// keyboard focus back (disabling a widget hands its focus on to the next one).
class DisabledGrid final
{
public:
    explicit DisabledGrid(ProxyGrid& grid) : m_grid(grid), m_focused(grid.hasFocus())
    {
        m_grid.setEnabled(false);
    }
    ~DisabledGrid()
    {
        m_grid.setEnabled(true);
        if (m_focused && m_grid.isVisible())
            m_grid.setFocus();
    }
    DisabledGrid(const DisabledGrid&) = delete;
    DisabledGrid& operator=(const DisabledGrid&) = delete;

private:
    ProxyGrid& m_grid;
    bool m_focused;
};

} // namespace

ListPages::ListPages(const Controls& controls, ImportedListStore& store, int& activeGrid,
                     int& lastSortOrder, WindowHost& host, Prompts& prompts, QObject* parent)
    : QObject(parent), m_c(controls), m_activeGrid(activeGrid), m_host(host), m_filter(host),
      m_sort(lastSortOrder), m_editor(controls.MSHi->rows(), store, host, prompts)
{
    connectGrid(m_c.MSH, 1);
    connectGrid(m_c.MSH2, 2);
    connectGrid(m_c.MSHi, 3);
    connectGrid(m_c.MSHi2, 4);
    connect(m_c.MSHi, &ProxyGrid::keyDown, this,
            [this](int key, Qt::KeyboardModifiers modifiers) { importedKeyDown(key, modifiers); });

    for (QWidget* w : {static_cast<QWidget*>(m_c.cboLOC), static_cast<QWidget*>(m_c.cboTYPE),
                       static_cast<QWidget*>(m_c.cboCLASS), static_cast<QWidget*>(m_c.txtMinSpeed),
                       static_cast<QWidget*>(m_c.txtMaxSpeed)})
        w->installEventFilter(this);
    // Typing is filtered key by key; this keeps pasted or dropped text to digits as well.
    const QRegularExpression digits(QStringLiteral("[0-9]*"));
    m_c.txtMinSpeed->setValidator(new QRegularExpressionValidator(digits, m_c.txtMinSpeed));
    m_c.txtMaxSpeed->setValidator(new QRegularExpressionValidator(digits, m_c.txtMaxSpeed));
    connect(m_c.Option1, &QRadioButton::clicked, this, [this] { Option1_Click(); });
    connect(m_c.Option2, &QRadioButton::clicked, this, [this] { Option2_Click(); });

    // The page keys act in the whole window and are held whenever the page buttons are.
    QWidget* window = m_c.Option1->window();
    const auto pageKey = [this, window](const char* name, const QKeySequence& key, auto show) {
        auto* action = new QAction(this);
        action->setObjectName(QLatin1String(name));
        action->setShortcut(key);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, show);
        window->addAction(action);
        m_pageKeys.push_back(action);
    };
    pageKey("keyMainPage", QKeySequence(Qt::CTRL | Qt::Key_1), [this] { Option1_Click(); });
    pageKey("keyImportedPage", QKeySequence(Qt::CTRL | Qt::Key_2), [this] { Option2_Click(); });
    pageKey("keyOtherPage", QKeySequence(Qt::CTRL | Qt::Key_Tab), [this] {
        if (m_activeGrid == 3 || m_activeGrid == 4)
            Option1_Click();
        else
            Option2_Click();
    });
    m_c.Option1->installEventFilter(this);

    connect(m_c.menuUndo, &QAction::triggered, this, [this] { undoImportedChange(); });
    m_editor.undo().setOnChange([this] { showUndoState(); });
    showUndoState();
}

// ---- pages -----------------------------------------------------------------------------------

void ListPages::Option1_Click()
{
    m_c.MSH->show();
    m_c.MSH2->hide();
    m_c.MSHi->hide();
    m_c.MSHi2->hide();
    m_c.Option1->setChecked(true);
    m_activeGrid = 1;
    showUndoState();
    buildFilterChoices(*m_c.MSH);
    focusPage(1, *m_c.MSH);
}

void ListPages::Option2_Click()
{
    m_c.MSH->hide();
    m_c.MSH2->hide();
    m_c.MSHi->show();
    m_c.MSHi2->hide();
    m_c.Option2->setChecked(true);
    m_activeGrid = 3;
    showUndoState();
    buildFilterChoices(*m_c.MSHi);
    focusPage(3, *m_c.MSHi);
}

void ListPages::focusPage(int activeGrid, ProxyGrid& grid)
{
    // A command served while the choices were built may have shown something else meanwhile.
    if (m_activeGrid == activeGrid && grid.isVisible())
        grid.setFocus(Qt::OtherFocusReason);
}

void ListPages::buildFilterChoices(ProxyGrid& grid, int fromRow, int toRow)
{
    m_host.setStatusText(QStringLiteral("Importing Proxies.."));
    if (fromRow == 0)
        fromRow = 1;
    if (toRow == 0)
        toRow = grid.Rows();
    m_host.setProgressMaximum(toRow);

    struct Choices
    {
        int column;
        QComboBox* combo;
        QStringList list;
        QSet<QString> seen;
    };
    std::array<Choices, 3> choices{{{ProxyRow::Location, m_c.cboLOC, {}, {}},
                                    {ProxyRow::Type, m_c.cboTYPE, {}, {}},
                                    {ProxyRow::Class, m_c.cboCLASS, {}, {}}}};
    const ProxyTableModel& model = grid.rows();
    // The queue is served on the way: a page switch, load or filter pass that starts meanwhile
    // builds the choices anew, and this pass leaves the boxes to it.
    const quint64 pass = ++m_choicePass;
    YieldClock clock;
    for (int r = fromRow; r <= toRow; ++r) {
        if (r >= 1 && r < model.Rows()) {
            for (Choices& c : choices) {
                const QString text = model.TextMatrix(r, c.column);
                if (text.isEmpty())
                    continue;
                const qsizetype before = c.seen.size();
                c.seen.insert(text); // one look-up: the set grows only for a new text
                if (c.seen.size() != before)
                    c.list.append(text);
            }
        }
        if (m_host.isStopRequested())
            break;
        if (clock.maybeYield())
            m_host.setProgressValue(r);
    }
    m_host.setProgressValue(0);
    if (pass != m_choicePass)
        return;

    for (Choices& c : choices) {
        c.list.sort(Qt::CaseInsensitive);
        c.combo->clear();
        c.combo->addItems(c.list);
        c.combo->setCurrentIndex(-1);
    }
}

void ListPages::connectGrid(ProxyGrid* grid, int number)
{
    connect(grid, &ProxyGrid::gotFocus, this, [this, number] { m_activeGrid = number; });
    connect(grid, &ProxyGrid::gridClicked, this, [this, grid] { gridClick(*grid); });
    connect(grid, &ProxyGrid::gridDoubleClicked, this, [this, number] {
        if (!busy())
            m_host.testSelectedProxies(number);
    });
    connect(grid, &ProxyGrid::enterPressed, this, [this, number] {
        if (!busy())
            m_host.testSelectedProxies(number);
    });
    connect(grid, &ProxyGrid::mouseReleased, this,
            [this, grid](Qt::MouseButton button) { showGridMenu(*grid, button); });
}

QString ListPages::comboText(const QComboBox& combo)
{
    return combo.currentIndex() < 0 ? combo.placeholderText() : combo.currentText();
}

FilterCriteria ListPages::filterCriteria() const
{
    FilterCriteria criteria;
    criteria.location = comboText(*m_c.cboLOC);
    criteria.type = comboText(*m_c.cboTYPE);
    criteria.klass = comboText(*m_c.cboCLASS);
    criteria.minSpeed = m_c.txtMinSpeed->text();
    criteria.maxSpeed = m_c.txtMaxSpeed->text();
    return criteria;
}

// ---- loading ---------------------------------------------------------------------------------

QString ListPages::loadLists(ServiceListLoader& loader, bool service, bool imported)
{
    // One clock for the whole load: the window is served between phases as well as inside them.
    YieldClock clock;
    ProxyGrid& MSH = *m_c.MSH;
    ProxyGrid& MSHi = *m_c.MSHi;
    m_host.enableControls(false);
    MSH.setRows(1);
    MSH.setRows(2);
    m_host.Form_Resize();
    MSH.setRedraw(false);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);

    QString body;
    if (service)
        body = loader.loadService(MSH.rows(), clock);
    if (imported) {
        m_editor.undo().forget(); // the grid's rows are made anew
        MSHi.setEnabled(false);
        MSHi.setRedraw(false);
        loader.loadImported(MSHi.rows(), clock);
        MSHi.setEnabled(true);
        MSHi.setRedraw(true);
    }

    if (MSH.Rows() >= 2) {
        clock.yieldNow();
        MSH.setCol(ProxyRow::Tested);
        MSH.setRow(1);
        MSH.setRowSel(MSH.Rows() - 1);
        MSH.Sort(ProxyTableModel::TextDescending, clock.server());
        clock.maybeYield();
    }
    if (service) {
        MSH.paintRowBands(FilterPass::ServiceBand);
        m_c.MSH2->paintRowBands(FilterPass::ServiceBand);
        MSH.setRedraw(true);
    }
    if (imported) {
        MSHi.setRedraw(false);
        MSHi.paintRowBands(FilterPass::ImportedBand);
        m_c.MSHi2->paintRowBands(FilterPass::ImportedResultBand);
        MSHi.setRedraw(true);
    }
    clock.maybeYield();

    if (m_activeGrid == 1 || m_activeGrid == 2)
        buildFilterChoices(MSH);
    else if (m_activeGrid == 3 || m_activeGrid == 4)
        buildFilterChoices(MSHi);

    MSH.setRedraw(true);
    if (MSH.Rows() >= 2) {
        MSH.setRow(1);
        MSH.setCol(0);
        MSH.setColSel(MSH.Cols() - 1);
    }
    m_host.setStatusText(QString());
    m_host.setPanelText(1, QString::number(MSH.rows().proxyCount()) + QStringLiteral(" Main"));
    m_host.setPanelText(2, QString::number(MSHi.rows().proxyCount()) + QStringLiteral(" Imported"));
    QGuiApplication::restoreOverrideCursor();

    if (!m_c.MSH->window()->isMinimized() && MSH.isVisible())
        MSH.setFocus();
    m_host.enableControls(true);
    // A Stop that ended this load must not cut short the next fetch or run.
    m_host.clearStopRequested();
    return body;
}

// ---- filter ----------------------------------------------------------------------------------

void ListPages::filterPage()
{
    if (!filterCriteria().isActive())
        return;
    if (m_activeGrid == 1 || m_activeGrid == 2)
        applyFilter(*m_c.MSH, *m_c.MSH2);
    else if (m_activeGrid == 3 || m_activeGrid == 4)
        applyFilter(*m_c.MSHi, *m_c.MSHi2);
}

void ListPages::applyFilter(ProxyGrid& source, ProxyGrid& result)
{
    if (m_filter.isRunning())
        return;
    const FilterCriteria criteria = filterCriteria();
    const QPointer<QWidget> focus = QApplication::focusWidget();
    // The pass serves the event queue: Stop must be at hand and whatever changes the lists out
    // of reach. When another operation already holds the controls, they stay as it left them.
    const bool idle = m_c.menuTools->isEnabled();
    if (idle)
        m_host.enableControls(false);
    source.setEnabled(false);
    result.setEnabled(false);
    m_c.frame->setEnabled(false);
    source.setRedraw(false);
    result.setRedraw(false);

    m_filter.applyFilter(source.rows(), result.rows(), criteria);
    paintPageBands();
    result.selectWholeRow(1);

    source.hide();
    result.show();
    source.setRedraw(true);
    result.setRedraw(true);
    source.setEnabled(true);
    result.setEnabled(true);
    m_c.frame->setEnabled(true);
    if (idle)
        m_host.enableControls(true);
    if (focus && focus->isVisible() && focus->isEnabled())
        focus->setFocus();
}

void ListPages::resetPage()
{
    ProxyGrid* main = nullptr;
    ProxyGrid* result = nullptr;
    if (m_activeGrid == 1 || m_activeGrid == 2) {
        main = m_c.MSH;
        result = m_c.MSH2;
    } else if (m_activeGrid == 3 || m_activeGrid == 4) {
        main = m_c.MSHi;
        result = m_c.MSHi2;
    }
    if (main) {
        main->show();
        main->setRedraw(true);
        main->setEnabled(true);
        result->hide();
        result->setEnabled(false);
        main->selectWholeRow(1);
        main->setTopRow(1);
    }
    m_c.cboLOC->setCurrentIndex(-1);
    m_c.cboCLASS->setCurrentIndex(-1);
    m_c.cboTYPE->setCurrentIndex(-1);
    m_c.txtMinSpeed->setText(QStringLiteral("0"));
    m_c.txtMaxSpeed->setText(QStringLiteral("0"));
}

void ListPages::paintPageBands()
{
    if (m_activeGrid == 1 || m_activeGrid == 2) {
        m_c.MSH->paintRowBands(FilterPass::ServiceBand);
        m_c.MSH2->paintRowBands(FilterPass::ServiceBand);
    } else if (m_activeGrid == 3 || m_activeGrid == 4) {
        m_c.MSHi->paintRowBands(FilterPass::ImportedBand);
        m_c.MSHi2->paintRowBands(FilterPass::ImportedBand);
    }
}

bool ListPages::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_c.Option1 && event->type() == QEvent::EnabledChange) {
        for (QAction* key : m_pageKeys)
            key->setEnabled(m_c.Option1->isEnabled());
        showUndoState();
        return false;
    }
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const QString text = key->text();
    // Only typed characters are filtered; keys that move the focus or delete are none.
    if (text.isEmpty() || key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab ||
        key->key() == Qt::Key_Delete)
        return false;
    if (watched == m_c.txtMinSpeed || watched == m_c.txtMaxSpeed) {
        // Ctrl+A, Ctrl+C, Ctrl+V… edit the box as anywhere else; the validator keeps a paste to
        // digits.
        if (key->modifiers() & Qt::ControlModifier)
            return false;
        const QChar c = text.at(0);
        const bool digit = text.size() == 1 && c >= u'0' && c <= u'9';
        return !(digit || key->key() == Qt::Key_Backspace);
    }
    return true; // the combo boxes change only by a pick from their lists
}

// ---- grid input ------------------------------------------------------------------------------

bool ListPages::busy() const
{
    return !m_c.menuTools->isEnabled();
}

void ListPages::gridClick(ProxyGrid& grid)
{
    if (busy())
        return;
    if (&grid == m_c.MSH) {
        if (!skipNextSort)
            sortByHeader(grid);
        skipNextSort = false;
        return;
    }
    sortByHeader(grid);
}

void ListPages::sortByHeader(ProxyGrid& grid)
{
    if (grid.MouseRow() != 0)
        return;
    bool ascending = false;
    {
        DisabledGrid disabled(grid);
        grid.setRedraw(false);
        ascending = m_sort.sortByHeader(grid.rows(), grid.MouseCol());
        // The rows took their colours with them.
        paintPageBands();
        grid.setRedraw(true);
    }
    grid.showSortArrow(grid.MouseCol(), ascending);
    if (grid.Rows() > 1) {
        grid.setTopRow(1);
        grid.selectWholeRow(1);
    }
}

void ListPages::showGridMenu(ProxyGrid& grid, Qt::MouseButton button)
{
    // While an operation holds the menus, their entries must stay out of reach here as well.
    if (button != Qt::RightButton || grid.Row() < 1 || busy())
        return;
    m_c.menuTools->setDefaultAction(m_c.menuTestProxy);
    m_c.menuTools->exec(QCursor::pos());
    skipNextSort = true;
}

// ---- editing the imported list -----------------------------------------------------------------

void ListPages::importedKeyDown(int key, Qt::KeyboardModifiers modifiers)
{
    const Qt::KeyboardModifiers shift =
        modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    if (busy())
        return;
    if (key == Qt::Key_A && shift == Qt::ControlModifier)
        selectImportedList();
    else if (key == Qt::Key_Delete)
        deleteImportedRows();
    else if (key == Qt::Key_V && shift == Qt::ControlModifier)
        pasteProxies();
}

void ListPages::selectImportedList()
{
    QCoreApplication::processEvents();
    ProxyGrid& grid = *m_c.MSHi;
    grid.setCol(0);
    grid.setRow(1);
    grid.setColSel(grid.Cols() - 1);
    grid.setRowSel(grid.Rows() - 1);
    m_host.Form_Resize();
}

// Holds the window's commands while an edit of the imported list serves the event queue (a long
// save does): a load or another edit in its middle would rebuild the rows it is working on.
class ListPages::HeldControls final
{
public:
    explicit HeldControls(WindowHost& host) : m_host(host) { m_host.enableControls(false); }
    ~HeldControls()
    {
        m_host.enableControls(true);
        m_host.clearStopRequested(); // Stop was at hand, but an edit runs to its end
    }
    HeldControls(const HeldControls&) = delete;
    HeldControls& operator=(const HeldControls&) = delete;

private:
    WindowHost& m_host;
};

void ListPages::deleteImportedRows()
{
    const HeldControls held(m_host);
    ProxyGrid& grid = *m_c.MSHi;
    {
        DisabledGrid disabled(grid);
        grid.setRedraw(false);
        // A "no" to deleting every row leaves the selection as it was.
        if (m_editor.deleteImportedRows(grid.Row(), grid.RowSel()) && grid.Rows() >= 2) {
            grid.setRow(1);
            grid.setRowSel(1);
        }
        grid.setRedraw(true);
    }
    if (grid.Rows() >= 2)
        grid.setTopRow(1);
}

void ListPages::pasteProxies()
{
    const QString text = QGuiApplication::clipboard()->text();
    if (text.isEmpty())
        return;
    const HeldControls held(m_host);
    ProxyGrid& grid = *m_c.MSHi;
    DisabledGrid disabled(grid);
    grid.setRedraw(false);
    m_editor.pasteProxies(text);
    grid.setRedraw(true);
}

// Held with the page keys. A step that went stale (a test wrote its results) is no longer offered
// once the run gives the controls back.
void ListPages::showUndoState()
{
    m_c.menuUndo->setEnabled(m_c.Option1->isEnabled() && m_c.Option2->isChecked() &&
                             m_editor.undo().canUndo());
}

void ListPages::undoImportedChange()
{
    if (busy() || !m_c.Option2->isChecked())
        return;
    const HeldControls held(m_host);
    ProxyGrid& grid = *m_c.MSHi;
    // The list comes back in its own grid, not in the result of a filter made before.
    m_c.MSHi2->hide();
    grid.show();
    {
        DisabledGrid disabled(grid);
        grid.setRedraw(false);
        m_editor.undoLastChange();
        grid.setRedraw(true);
    }
    if (grid.Rows() >= 2) {
        grid.selectWholeRow(1);
        grid.setTopRow(1);
    }
    if (!grid.window()->isMinimized())
        grid.setFocus();
}
