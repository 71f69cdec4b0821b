#include "settings/frmSetup.h"

#include "base/Prompts.h"
#include "settings/SettingsStore.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QVBoxLayout>

namespace {

// A time-out the dialog keeps: whole seconds in the entry range.
std::optional<int> timeoutEntry(const QString& text)
{
    bool ok = false;
    const int timeout = text.trimmed().toInt(&ok);
    if (!ok || timeout < Setting::MinTimeoutEntry || timeout > Setting::MaxTimeoutEntry)
        return std::nullopt;
    return timeout;
}

QString rangeText(int low, int high)
{
    return QStringLiteral("Must be %1 to %2").arg(low).arg(high);
}

} // namespace

frmSetup::frmSetup(SettingsStore& store, Prompts& prompts, std::function<void()> reloadWindow,
                   const Autostart& autostart, QWidget* parent)
    : QDialog(parent), m_store(store), m_prompts(prompts), m_reloadWindow(std::move(reloadWindow)),
      m_autostart(autostart)
{
    setObjectName(QStringLiteral("frmSetup"));
    setWindowTitle(QStringLiteral("Setup"));
    // A fixed dialog: nothing to minimise or maximise.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    createControls();

    m_boxes = {{chkSSL, &Setting::chkSSL},         {chkREFER, &Setting::chkREFER},
               {chkPOST, &Setting::chkPOST},       {chkGET, &Setting::chkGET},
               {chkCOOKIES, &Setting::chkCOOKIES}, {chkCOR, &Setting::chkCOR},
               {chkIMP, &Setting::chkIMP},         {chkWINDOWS, &Setting::chkWINDOWS},
               {chkTest, &Setting::chkTEST},       {chkDetectType, &Setting::DetectType}};
    for (const Box& box : m_boxes)
        connect(box.box, &QCheckBox::clicked, this, [this, box] { checkBoxClicked(box); });
    connect(cboFONT, &QComboBox::activated, this, [this] { m_fontPicked = true; });
    connect(cboFontSize, &QComboBox::activated, this, [this] { m_sizePicked = true; });
    connect(txtTimeout, &QLineEdit::textChanged, this, [this] { checkRanges(); });
    connect(txtParallel, &QLineEdit::textChanged, this, [this] { checkRanges(); });
    connect(chkOK, &QPushButton::clicked, this, [this] { chkOK_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
    connect(cmdMmdbFile, &QPushButton::clicked, this, [this] { cmdMmdbFile_Click(); });
}

frmSetup::~frmSetup() = default;

void frmSetup::createControls()
{
    auto check = [](QWidget* parent, const char* name, const QString& caption) {
        auto* box = new QCheckBox(caption, parent);
        box->setObjectName(QLatin1String(name));
        return box;
    };
    auto label = [](QWidget* parent, const char* name, const QString& caption) {
        auto* l = new QLabel(caption, parent);
        l->setObjectName(QLatin1String(name));
        return l;
    };

    frmSRC = new QGroupBox(this);
    frmSRC->setObjectName(QStringLiteral("frmSRC"));
    chkCOR = check(frmSRC, "chkCOR", QStringLiteral("Load Proxies from Corvatel Resources"));
    chkIMP = check(frmSRC, "chkIMP", QStringLiteral("Load Proxies from Imported Lists"));
    chkTest = check(frmSRC, "chkTest", QStringLiteral("Auto test enabled proxy every 60 s"));
    chkWINDOWS = check(frmSRC, "chkWINDOWS", QStringLiteral("Start at log-in"));

    const auto* digits =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
    lblTimeout = label(frmSRC, "lblTimeout", QStringLiteral("Proxy Test Timeout :"));
    txtTimeout = new QLineEdit(QStringLiteral("60"), frmSRC);
    txtTimeout->setObjectName(QStringLiteral("txtTimeout"));
    txtTimeout->setValidator(digits);
    lblTimeout->setBuddy(txtTimeout);
    lblParallel = label(frmSRC, "lblParallel", QStringLiteral("Parallel tests"));
    txtParallel = new QLineEdit(QStringLiteral("1"), frmSRC);
    txtParallel->setObjectName(QStringLiteral("txtParallel"));
    txtParallel->setValidator(digits);
    txtParallel->setToolTip(QStringLiteral("How many proxies a test run tests at once (1 to %1)")
                                .arg(Setting::MaxParallelTests));
    lblParallel->setBuddy(txtParallel);
    // The pages the tests go through sit beside how many tests run at once.
    cmdJudges = new QPushButton(QStringLiteral("Judges…"), frmSRC);
    cmdJudges->setObjectName(QStringLiteral("cmdJudges"));
    cmdJudges->setAutoDefault(false);
    connect(cmdJudges, &QPushButton::clicked, this, &frmSetup::judgesRequested);
    for (QLineEdit* edit : {txtTimeout, txtParallel})
        edit->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("0000000")));
    // The range shows beside a box only while its value is out of it; the room stays kept, so
    // the dialog does not change size as the user types.
    const auto rangeLabel = [&label, this](const char* name, int low, int high) {
        QLabel* range = label(frmSRC, name, QString());
        range->setMinimumWidth(fontMetrics().horizontalAdvance(rangeText(low, high)));
        return range;
    };
    lblTimeoutRange =
        rangeLabel("lblTimeoutRange", Setting::MinTimeoutEntry, Setting::MaxTimeoutEntry);
    lblParallelRange = rangeLabel("lblParallelRange", 1, Setting::MaxParallelTests);

    lblMmdbFile = label(frmSRC, "lblMmdbFile", QStringLiteral("Location database"));
    txtMmdbFile = new QLineEdit(frmSRC);
    txtMmdbFile->setObjectName(QStringLiteral("txtMmdbFile"));
    txtMmdbFile->setPlaceholderText(QStringLiteral("none"));
    txtMmdbFile->setToolTip(
        QStringLiteral("A MaxMind-format file (.mmdb) that gives tested proxies their city and "
                       "country; empty for none"));
    txtMmdbFile->setClearButtonEnabled(true);
    lblMmdbFile->setBuddy(txtMmdbFile);
    cmdMmdbFile = new QPushButton(QStringLiteral("\u2026"), frmSRC);
    cmdMmdbFile->setObjectName(QStringLiteral("cmdMmdbFile"));
    cmdMmdbFile->setToolTip(QStringLiteral("Choose the location database"));
    cmdMmdbFile->setAccessibleName(QStringLiteral("Choose the location database"));
    // Just wide enough for its dots, so the path keeps the room.
    cmdMmdbFile->setFixedWidth(cmdMmdbFile->sizeHint().height() * 3 / 2);
    chkDetectType =
        check(frmSRC, "chkDetectType", QStringLiteral("Find the type of untyped proxies"));

    Label1 = label(frmSRC, "Label1", QStringLiteral("Display Font"));
    cboFONT = new QComboBox(frmSRC);
    cboFONT->setObjectName(QStringLiteral("cboFONT"));
    cboFONT->setMinimumContentsLength(22);
    cboFONT->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    Label1->setBuddy(cboFONT);
    lblFontsize = label(frmSRC, "lblFontsize", QStringLiteral("Font Size"));
    cboFontSize = new QComboBox(frmSRC);
    cboFontSize->setObjectName(QStringLiteral("cboFontSize"));
    cboFontSize->setMinimumContentsLength(3);
    lblFontsize->setBuddy(cboFontSize);
    // The font and size are picked from their lists only.
    cboFONT->installEventFilter(this);
    cboFontSize->installEventFilter(this);

    auto* src = new QGridLayout(frmSRC);
    src->addWidget(chkCOR, 0, 0, 1, 4);
    src->addWidget(chkIMP, 1, 0, 1, 4);
    src->addWidget(chkTest, 2, 0, 1, 4);
    src->addWidget(chkWINDOWS, 3, 0, 1, 4);
    const auto withRange = [](QLineEdit* edit, QLabel* range) {
        auto* row = new QHBoxLayout;
        row->addWidget(edit);
        row->addWidget(range);
        row->addStretch(1);
        return row;
    };
    src->addWidget(lblTimeout, 4, 0);
    src->addLayout(withRange(txtTimeout, lblTimeoutRange), 4, 1, 1, 3);
    src->addWidget(lblParallel, 5, 0);
    src->addLayout(withRange(txtParallel, lblParallelRange), 5, 1);
    src->addWidget(cmdJudges, 5, 2, 1, 2, Qt::AlignRight);
    auto* mmdbFile = new QHBoxLayout;
    mmdbFile->addWidget(txtMmdbFile, 1);
    mmdbFile->addWidget(cmdMmdbFile);
    src->addWidget(lblMmdbFile, 6, 0);
    src->addLayout(mmdbFile, 6, 1, 1, 3);
    src->addWidget(chkDetectType, 7, 0, 1, 4);
    src->addWidget(Label1, 8, 0);
    src->addWidget(cboFONT, 8, 1);
    src->addWidget(lblFontsize, 8, 2);
    src->addWidget(cboFontSize, 8, 3);
    src->setColumnStretch(1, 1);
    src->setVerticalSpacing(6);

    Frame1 = new QGroupBox(QStringLiteral("Columns"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    chkCOOKIES = check(Frame1, "chkCOOKIES", QStringLiteral("Show COOKIES"));
    chkREFER = check(Frame1, "chkREFER", QStringLiteral("Show REFER"));
    chkPOST = check(Frame1, "chkPOST", QStringLiteral("Show POST"));
    chkGET = check(Frame1, "chkGET", QStringLiteral("Show GET"));
    chkSSL = check(Frame1, "chkSSL", QStringLiteral("Show SSL"));
    auto* columns = new QGridLayout(Frame1);
    columns->addWidget(chkCOOKIES, 0, 0);
    columns->addWidget(chkREFER, 0, 1);
    columns->addWidget(chkPOST, 0, 2);
    columns->addWidget(chkGET, 1, 0);
    columns->addWidget(chkSSL, 1, 1);

    chkOK = new QPushButton(QStringLiteral("OK"), this);
    chkOK->setObjectName(QStringLiteral("chkOK"));
    chkOK->setDefault(true);
    chkOK->setMinimumWidth(chkOK->sizeHint().width() * 3 / 2);
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setAutoDefault(false);
    cmdCancel->setMinimumWidth(chkOK->minimumWidth());
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(chkOK);
    buttons->addWidget(cmdCancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frmSRC);
    layout->addWidget(Frame1);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

// Every key the dialog may write, by a click or on closing.
std::vector<const Setting::Name*> frmSetup::keysWritten() const
{
    std::vector<const Setting::Name*> keys;
    for (const Box& box : m_boxes)
        keys.push_back(box.key);
    const Setting::Name* onClosing[] = {&Setting::txtTimeout, &Setting::ParallelTests,
                                        &Setting::MmdbFile, &Setting::cboFont,
                                        &Setting::cboFontSize};
    keys.insert(keys.end(), std::begin(onClosing), std::end(onClosing));
    return keys;
}

void frmSetup::Form_Load()
{
    m_openedKeys.clear();
    for (const Setting::Name* key : keysWritten())
        m_openedKeys.emplace_back(key, m_store.stored(*key));
    m_openedEntry = m_autostart.savedEntry(m_autostart.executableBaseName());
    m_cancelled = m_fontPicked = m_sizePicked = false;

    cboFontSize->clear();
    for (int size = 6; size <= 20; ++size)
        cboFontSize->addItem(QString::number(size));
    SBList1 = QFontDatabase::families();
    cboFONT->clear();
    cboFONT->addItems(SBList1);

    adjustSize();
    if (const QScreen* screen = this->screen()) {
        const QRect area = screen->geometry();
        move(area.x() + area.width() / 2 - width() / 2,
             area.y() + area.height() / 2 - height() / 2);
    }

    for (const Box& box : m_boxes)
        box.box->setChecked(false);
    // A box found checked counts as a click: it writes its key again, and a checked "Start at
    // log-in" writes the autostart entry for the folder the program now runs in.
    for (const Box& box : m_boxes) {
        if (Setting::wholeNumber(m_store.read(*box.key)) == 1) {
            box.box->setChecked(true);
            checkBoxClicked(box);
        }
    }
    txtTimeout->setText(m_store.read(Setting::txtTimeout));
    txtParallel->setText(m_store.read(Setting::ParallelTests));
    txtMmdbFile->setText(m_store.read(Setting::MmdbFile));
    // A stored font this system lacks shows as the one the grid falls back to; the stored name is
    // kept unless the user picks another.
    const QString font = m_store.read(Setting::cboFont);
    showText(*cboFONT, font.isEmpty() ? font : QFontInfo(QFont(font)).family());
    showText(*cboFontSize, m_store.read(Setting::cboFontSize));
    checkRanges();
    m_loaded = true;
}

// A value that is not in the list still shows.
void frmSetup::showText(QComboBox& combo, const QString& text)
{
    int index = combo.findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index < 0 && !text.isEmpty()) {
        combo.insertItem(0, text);
        index = 0;
    }
    combo.setCurrentIndex(index);
}

void frmSetup::checkBoxClicked(const Box& box)
{
    if (box.box == chkWINDOWS)
        chkWINDOWS_Click();
    m_store.write(*box.key, box.box->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    // A "Show" box shows or hides its column at once.
    if (m_loaded && m_reloadWindow &&
        (box.box == chkSSL || box.box == chkREFER || box.box == chkPOST || box.box == chkGET ||
         box.box == chkCOOKIES))
        m_reloadWindow();
}

void frmSetup::chkWINDOWS_Click()
{
    // The stored setting follows the box even when the entry could not be written.
    m_autostart.SetStartWithWindows(m_autostart.executableBaseName(), QDir::currentPath(),
                                    chkWINDOWS->isChecked());
}

void frmSetup::cmdMmdbFile_Click()
{
    // Cancelling the file dialog keeps what the box holds; clearing the box is how to have none.
    const QString path =
        m_prompts.openFile(QStringLiteral("Location database"),
                           QStringLiteral("MaxMind databases (*.mmdb);;All files (*)"));
    if (!path.isEmpty())
        txtMmdbFile->setText(path);
}

// A value out of range shows the range beside its box, and OK waits until it is mended.
void frmSetup::checkRanges()
{
    const auto mark = [](QLabel* range, bool inRange, int low, int high) {
        range->setText(inRange ? QString() : rangeText(low, high));
        return inRange;
    };
    const bool timeoutOk = mark(lblTimeoutRange, timeoutEntry(txtTimeout->text()).has_value(),
                                Setting::MinTimeoutEntry, Setting::MaxTimeoutEntry);
    const bool parallelOk =
        mark(lblParallelRange, Setting::ParallelTests.parse(txtParallel->text()).has_value(), 1,
             Setting::MaxParallelTests);
    chkOK->setEnabled(timeoutOk && parallelOk);
}

void frmSetup::chkOK_Click()
{
    if (!chkOK->isEnabled())
        return;
    // Written first, so the window lays itself out with the new time-out, font and size.
    finish(true);
    if (m_reloadWindow)
        m_reloadWindow();
    accept();
}

void frmSetup::cmdCancel_Click()
{
    m_cancelled = true;
    reject();
}

void frmSetup::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        cmdCancel_Click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmSetup::done(int result)
{
    finish(!m_cancelled);
    m_cancelled = false;
    QDialog::done(result);
}

void frmSetup::finish(bool keep)
{
    if (!m_loaded)
        return;
    m_loaded = false;
    if (keep)
        Form_Unload();
    else
        putBack();
}

void frmSetup::Form_Unload()
{
    if (const std::optional<int> timeout = timeoutEntry(txtTimeout->text()))
        m_store.write(Setting::txtTimeout, QString::number(*timeout));
    if (const std::optional<int> parallel = Setting::ParallelTests.parse(txtParallel->text()))
        m_store.write(Setting::ParallelTests, QString::number(*parallel));
    m_store.write(Setting::MmdbFile, txtMmdbFile->text().trimmed());
    if (m_fontPicked)
        m_store.write(Setting::cboFont, cboFONT->currentText());
    if (m_sizePicked)
        m_store.write(Setting::cboFontSize, cboFontSize->currentText());
}

void frmSetup::putBack()
{
    for (const auto& [key, text] : m_openedKeys) {
        if (text)
            m_store.write(*key, *text);
        else
            m_store.remove(*key);
    }
    m_autostart.restoreEntry(m_autostart.executableBaseName(), m_openedEntry);
    // The "Show" boxes changed the columns at once; they follow the keys back.
    if (m_reloadWindow)
        m_reloadWindow();
}

bool frmSetup::eventFilter(QObject* watched, QEvent* event)
{
    if ((watched == cboFONT || watched == cboFontSize) && event->type() == QEvent::KeyPress) {
        const QString text = static_cast<QKeyEvent*>(event)->text();
        if (!text.isEmpty() && text.at(0).isPrint())
            return true;
    }
    return QDialog::eventFilter(watched, event);
}
