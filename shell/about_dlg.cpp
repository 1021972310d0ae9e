#include "shell/about_dlg.h"

#include <QLabel>

#include "resources/resources.h"
#include "shell/version.h"
#include "ui_about.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::AboutTemplate>()) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    setWindowIcon(LoadIconResource(128));
    // The panel behind the banner and the texts is the palette's base, light or dark as the
    // desktop's theme has it, and the texts on it take the matching colour.
    ui_->panelBackground->setBackgroundRole(QPalette::Base);
    for (QLabel* text : {ui_->textVersion, ui_->textNotice})
        text->setForegroundRole(QPalette::Text);
    ui_->imageBanner->setPixmap(LoadBitmapResource(141));
    ui_->textVersion->setText(ProgramVersionLine());
    ui_->textNotice->setText(
        QStringLiteral("Copyright \u00A9 2026 The Kelvra developers. All rights reserved."));
    ui_->imageBanner->setAccessibleName(QStringLiteral("Kelvra"));
    connect(ui_->buttonOk, &QPushButton::clicked, this, &QDialog::accept);
}

CAboutDlg::~CAboutDlg() = default;
