// The Message Diagnostics window: the traffic log as it grows, and a line to send a message
// typed in hexadecimal. An ordinary window: it can be resized, and the list grows with it.
#pragma once

#include <QDialog>
#include <memory>

class CDataList;
class QLabel;

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
    // Reads the typed text and queues it as a raw message. A typing mistake (no digits, a
    // character that is not one, a byte of one digit) is refused; bytes that are not one
    // well-formed frame are sent as typed. Either is said beside the button.
    void SendTypedMessage();
    // What the last send said beside the button ("" when all went well).
    QString SendRemark() const;
    // Ends the window: tells the panel (diagnosticsClosed) and deletes itself.
    void CloseDiagnostics();

    CDataList* List() const;

  signals:
    void diagnosticsClosed();
    // "Save Log As..." was chosen in the list's menu; the window cannot reach the history.
    void saveLogRequested();
    // A line for the traffic log that no engine will write (a message the queue refused).
    void logRemark(const QString& text);

  public slots:
    void accept() override;
    void reject() override;

  protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void ShowRemark(const QString& text);

    std::unique_ptr<Ui::DiagnosticsTemplate> ui_;
    QLabel* remark_;  // beside the send: a refusal, or what is wrong with the frame sent
    bool closing_ = false;
};

// Why the engine's queue refused a request (EnqueueRequest's code), for the log and the windows.
QString QueueRefusalText(int code);
