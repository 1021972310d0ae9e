#include "shell/ui_services.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QProcess>
#include <QTimer>
#include <QUrl>
#include <memory>

namespace {

// How long a document opener may take to say that no program took the file. One still running
// then has started a viewer that keeps it waiting: the file is open.
constexpr int kOpenVerdictMs = 10000;

class DesktopUiServices final : public UiServices {
  public:
    QMessageBox::StandardButton MessageBox(QWidget* parent, const QString& text, const QString& caption,
                                           QMessageBox::Icon icon, QMessageBox::StandardButtons buttons,
                                           QMessageBox::StandardButton defaultButton) override {
        QMessageBox box(icon, caption, text, buttons, parent);
        if (defaultButton != QMessageBox::NoButton)
            box.setDefaultButton(defaultButton);
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

    // xdg-open tells by its exit status whether a program took the file; its output goes where
    // the program's own goes, so a viewer it starts outlives this program unharmed.
    void OpenDocument(const QString& path, std::function<void(bool)> opened) override {
        auto* opener = new QProcess(QCoreApplication::instance());
        opener->setProgram(QStringLiteral("xdg-open"));
        opener->setArguments({path});
        opener->setProcessChannelMode(QProcess::ForwardedChannels);
        opener->setStandardInputFile(QProcess::nullDevice());
        auto told = std::make_shared<bool>(false);
        const auto tell = [opened, told](bool result) {
            if (*told)
                return;
            *told = true;
            if (opened)
                opened(result);
        };
        QObject::connect(opener, &QProcess::finished, opener,
                         [opener, tell](int code, QProcess::ExitStatus how) {
                             tell(how == QProcess::NormalExit && code == 0);
                             opener->deleteLater();
                         });
        QObject::connect(opener, &QProcess::errorOccurred, opener,
                         [opener, tell, path](QProcess::ProcessError e) {
                             if (e != QProcess::FailedToStart)
                                 return;
                             // Without xdg-open the toolkit knows of no better way, but may know another.
                             tell(QDesktopServices::openUrl(QUrl::fromLocalFile(path)));
                             opener->deleteLater();
                         });
        QTimer::singleShot(kOpenVerdictMs, opener, [tell] { tell(true); });
        opener->start();
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
