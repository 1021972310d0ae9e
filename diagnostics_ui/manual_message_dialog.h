// The Message Diagnostics window: the traffic log as it grows, and a line to send a message
// typed in hexadecimal.
#pragma once

#include <QDialog>
#include <memory>

class CDataList;
class QCheckBox;
class QLineEdit;

namespace Ui {
class DiagnosticsTemplate;
}

class ManualMessageDialog : public QDialog {
    Q_OBJECT
  public:
    // Made with the panel as owner; it deletes itself when it closes.
    explicit ManualMessageDialog(QWidget* owner);
    ~ManualMessageDialog() override;

    // Appends the line in `block` to the list, scrolls to it and frees the block.
    void ShowLogLine(char* block);
    // Reads the typed text and queues it as a raw message.
    void SendTypedMessage();
    // Ends the window: tells the panel (diagnosticsClosed) and deletes itself.
    void CloseDiagnostics();

    CDataList* List() const;

  signals:
    void diagnosticsClosed();
    // "Save Log As..." was chosen in the list's menu; the window cannot reach the history.
    void saveLogRequested();

  public slots:
    void accept() override;
    void reject() override;

  protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    std::unique_ptr<Ui::DiagnosticsTemplate> ui_;
    bool closing_ = false;
};
