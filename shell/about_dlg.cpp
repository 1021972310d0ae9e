#include "shell/about_dlg.h"

#include "resources/resources.h"
#include "shell/version.h"
#include "ui_about.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::AboutTemplate>()) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    setWindowIcon(LoadIconResource(128));
    ui_->imageBanner->setPixmap(LoadBitmapResource(141));
    ui_->textVersion->setText(ProgramVersionLine());
    ui_->textNotice->setText(
        QStringLiteral("Copyright \u00A9 2026 The Kelvra developers. All rights reserved."));
    connect(ui_->buttonOk, &QPushButton::clicked, this, &QDialog::accept);
}

CAboutDlg::~CAboutDlg() = default;
