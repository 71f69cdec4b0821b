#include "signup/frmEmail.h"

#include "base/Prompts.h"
#include "signup/MailingListSignup.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

namespace {

// Drawn for the screen's device pixel ratio, so that it stays sharp on a HiDPI screen.
QPixmap envelopePicture(qreal ratio)
{
    QPixmap pixmap(QSize(72, 72) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1f, 0x6f, 0xb5));
    p.drawEllipse(0, 0, 72, 72);
    const QRectF letter(15, 22, 42, 29);
    p.setBrush(Qt::white);
    p.drawRoundedRect(letter, 3, 3);
    QPainterPath flap;
    flap.moveTo(letter.topLeft() + QPointF(2, 2));
    flap.lineTo(letter.center().x(), letter.center().y() + 3);
    flap.lineTo(letter.topRight() + QPointF(-2, 2));
    p.setPen(QPen(QColor(0x1f, 0x6f, 0xb5), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);
    return pixmap;
}

} // namespace

const QString frmEmail::InvalidAddressText = QStringLiteral("Invalid e-mail address.");

frmEmail::frmEmail(MailingListSignup& signup, Prompts& prompts, QWidget* parent)
    : QDialog(parent), m_signup(signup), m_prompts(prompts)
{
    setObjectName(QStringLiteral("frmEmail"));
    setWindowTitle(QStringLiteral("Product Updates"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setModal(true);

    Picture1 = new QLabel(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setPixmap(envelopePicture(devicePixelRatioF()));
    Picture1->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    Label3 = new QLabel(QStringLiteral("Please take a moment to let us know who you are so you can "
                                       "receive special offers and updates."),
                        this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setWordWrap(true);

    Label2 = new QLabel(QStringLiteral("Email Address"), this);
    Label2->setObjectName(QStringLiteral("Label2"));

    txtEmail = new QLineEdit(this);
    txtEmail->setObjectName(QStringLiteral("txtEmail"));
    Label2->setBuddy(txtEmail);

    Label4 = new QLabel(
        QStringLiteral(
            "*This information will not be sold or distributed under any circumstances."),
        this);
    Label4->setObjectName(QStringLiteral("Label4"));
    Label4->setWordWrap(true);
    QFont small = Label4->font();
    small.setItalic(true);
    small.setPointSizeF(small.pointSizeF() * 0.9);
    Label4->setFont(small);

    cmdOK = new QPushButton(QStringLiteral("&OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    // Enter in the address box sends through its own connection; a default button would send a
    // second time.
    for (QPushButton* button : {cmdOK, cmdCancel}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    auto* form = new QGridLayout(this);
    form->setHorizontalSpacing(16);
    form->addWidget(Picture1, 0, 0, 4, 1);
    form->addWidget(Label3, 0, 1);
    form->addWidget(Label2, 1, 1, Qt::AlignBottom);
    form->addWidget(txtEmail, 2, 1);
    form->addWidget(Label4, 3, 1, Qt::AlignTop);
    form->setRowMinimumHeight(1, 34);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    form->addLayout(buttons, 4, 0, 1, 2);
    form->setRowMinimumHeight(3, 36);
    form->setColumnStretch(1, 1);
    form->setSizeConstraint(QLayout::SetFixedSize);
    Label3->setFixedWidth(340);
    Label4->setFixedWidth(340);

    connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
    connect(txtEmail, &QLineEdit::returnPressed, this, [this] { cmdOK_Click(); });
    txtEmail->setFocus();
}

frmEmail::~frmEmail() = default;

void frmEmail::showIfDue(SettingsStore& store, DocumentFetcher& fetcher, const QString& serviceUrl,
                         Prompts& prompts, const std::function<int(QDialog&)>& run, QWidget* parent)
{
    if (!MailingListSignup::due(store))
        return;
    MailingListSignup signup(store, fetcher, serviceUrl);
    frmEmail dialog(signup, prompts, parent);
    dialog.Form_Load();
    run(dialog);
}

void frmEmail::Form_Load()
{
    m_signup.countOpening();
}

void frmEmail::cmdOK_Click()
{
    if (m_sending)
        return;
    const QString email = txtEmail->text();
    if (!MailingListSignup::isAddress(email)) {
        m_prompts.critical(InvalidAddressText, QStringLiteral("Corvatel"));
        return;
    }
    m_sending = true;
    txtEmail->setEnabled(false);
    cmdOK->setEnabled(false);
    cmdCancel->setEnabled(false);
    m_signup.send(email);
    m_sending = false;
    accept();
}

void frmEmail::cmdCancel_Click()
{
    reject();
}

void frmEmail::reject()
{
    if (!m_sending)
        QDialog::reject();
}
