#pragma once

#include <QDialog>

class QLabel;

// Help > About: the program's name and version, its licence, the Qt it runs on and a link to its
// site. The link asks the window to open the site (linkActivated), so the browser and its
// failure message stay in one place.
class frmAbout final : public QDialog
{
    Q_OBJECT

public:
    frmAbout(const QString& siteUrl, QWidget* parent = nullptr);

    QLabel* lblText = nullptr;

signals:
    void siteRequested();
};
