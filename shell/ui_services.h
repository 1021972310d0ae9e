// Everything the windows ask of the desktop: message boxes, the file dialogs, opening a
// document and starting a program. One replaceable object, so tests answer in place of a
// person and record what would have been opened or started.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

class UiServices {
  public:
    virtual ~UiServices() = default;
    // A modal message box; returns the button chosen. `defaultButton` is the one Enter presses
    // (NoButton: the toolkit's choice); a question that destroys something defaults to No.
    virtual QMessageBox::StandardButton MessageBox(
        QWidget* parent, const QString& text, const QString& caption, QMessageBox::Icon icon,
        QMessageBox::StandardButtons buttons,
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton) = 0;
    // The open-file dialog for an existing file; an empty string when cancelled.
    virtual QString OpenFileName(QWidget* parent, const QString& folder, const QString& filter,
                                 const QString& defaultSuffix) = 0;
    // The save-file dialog; `folder` may end in a suggested file name. It asks before an
    // existing file is replaced. An empty string when cancelled.
    virtual QString SaveFileName(QWidget* parent, const QString& folder, const QString& filter,
                                 const QString& defaultSuffix) = 0;
    // Hands an existing file to the desktop's handler for its type. `opened` learns, later or at
    // once, whether a program took it (false: none could open it).
    virtual void OpenDocument(const QString& path, std::function<void(bool opened)> opened) = 0;
    // Starts a program with its arguments, each passed as one argument (no shell).
    virtual bool StartDetached(const QString& program, const QStringList& arguments) = 0;
};

// The services in use: the desktop's unless a test has put its own in place.
UiServices& Desktop();

// Puts `services` in place for the life of this object.
class ScopedUiServices {
  public:
    explicit ScopedUiServices(UiServices* services);
    ~ScopedUiServices();
    ScopedUiServices(const ScopedUiServices&) = delete;
    ScopedUiServices& operator=(const ScopedUiServices&) = delete;

  private:
    UiServices* previous_;
};
