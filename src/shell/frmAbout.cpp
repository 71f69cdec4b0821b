#include "shell/frmAbout.h"

#include "shell/AppIcons.h"
#include "version.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

frmAbout::frmAbout(const QString& siteUrl, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Corvatel"));

    auto* icon = new QLabel(this);
    icon->setPixmap(AppIcons::application().pixmap(64, 64));
    icon->setAlignment(Qt::AlignTop);
    lblText = new QLabel(this);
    lblText->setObjectName(QStringLiteral("lblText"));
    lblText->setTextFormat(Qt::RichText);
    const QString version = QStringLiteral("%1.%2.%3")
                                .arg(CORVATEL_VERSION_MAJOR)
                                .arg(CORVATEL_VERSION_MINOR)
                                .arg(CORVATEL_VERSION_REVISION);
    lblText->setText(
        QStringLiteral("<h3>Corvatel %1</h3>"
                       "<p>Finds, tests and manages open proxy servers.</p>"
                       "<p>Released under the MIT License.<br>Built with Qt %2, running on Qt %3."
                       "</p><p><a href=\"%4\">%4</a></p>")
            .arg(version, QStringLiteral(QT_VERSION_STR), QString::fromLatin1(qVersion()),
                 siteUrl.toHtmlEscaped()));
    lblText->setTextInteractionFlags(Qt::TextBrowserInteraction);
    connect(lblText, &QLabel::linkActivated, this, &frmAbout::siteRequested);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addWidget(lblText, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}
