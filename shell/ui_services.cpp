#include "shell/ui_services.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QProcess>
#include <QUrl>

namespace {

class DesktopUiServices final : public UiServices {
  public:
    QMessageBox::StandardButton MessageBox(QWidget* parent, const QString& text, const QString& caption,
                                           QMessageBox::Icon icon,
                                           QMessageBox::StandardButtons buttons) override {
        QMessageBox box(icon, caption, text, buttons, parent);
        return static_cast<QMessageBox::StandardButton>(box.exec());
    }

    QString OpenFileName(QWidget* parent, const QString& folder, const QString& filter,
                         const QString& defaultSuffix) override {
        QFileDialog dialog(parent, QString(), folder, filter);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setDefaultSuffix(defaultSuffix);
        dialog.setOption(QFileDialog::ReadOnly, true);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        return dialog.selectedFiles().constFirst();
    }

    QString SaveFileName(QWidget* parent, const QString& folder, const QString& filter,
                         const QString& defaultSuffix) override {
        QFileDialog dialog(parent, QString(), folder, filter);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(defaultSuffix);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        return dialog.selectedFiles().constFirst();
    }

    bool OpenDocument(const QString& path) override {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    }

    bool StartDetached(const QString& program, const QStringList& arguments) override {
        return QProcess::startDetached(program, arguments);
    }
};

DesktopUiServices desktopServices;
UiServices* current = &desktopServices;

}  // namespace

UiServices& Desktop() {
    return *current;
}

ScopedUiServices::ScopedUiServices(UiServices* services) : previous_(current) {
    current = services != nullptr ? services : &desktopServices;
}

ScopedUiServices::~ScopedUiServices() {
    current = previous_;
}
