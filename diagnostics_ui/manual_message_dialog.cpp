#include "diagnostics_ui/manual_message_dialog.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <cstring>

#include "diagnostics/typed_message.h"
#include "diagnostics_ui/data_list.h"
#include "diagnostics_ui/log_event.h"
#include "engine/settings.h"
#include "resources/resources.h"
#include "ui_diagnostics.h"

ManualMessageDialog::ManualMessageDialog(QWidget* owner)
    : QDialog(owner), ui_(std::make_unique<Ui::DiagnosticsTemplate>()) {
    ui_->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    setWindowIcon(LoadIconResource(128));
    setModal(false);
    // Hex dumps line up in a fixed-width font.
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSize(font().pointSize());
    ui_->listLog->setFont(mono);
    ui_->editMessage->setFont(mono);
    ui_->editMessage->setMaxLength(kTypedMessageTextLimit);
    ui_->checkWaitResponse->setEnabled(false);
    connect(ui_->buttonSend, &QPushButton::clicked, this, &ManualMessageDialog::SendTypedMessage);
    connect(ui_->buttonDone, &QPushButton::clicked, this, &ManualMessageDialog::CloseDiagnostics);
    connect(ui_->listLog, &CDataList::saveLogRequested, this, &ManualMessageDialog::saveLogRequested);
}

ManualMessageDialog::~ManualMessageDialog() = default;

CDataList* ManualMessageDialog::List() const {
    return ui_->listLog;
}

void ManualMessageDialog::ShowLogLine(char* block) {
    if (block == nullptr)
        return;
    const size_t length = strnlen(block, kLogLineMaxText);
    CDataList* list = ui_->listLog;
    list->AddString(std::string_view(block, length));
    list->FollowNewest();
    FreeLogBlock(block);
}

void ManualMessageDialog::SendTypedMessage() {
    const QByteArray text = ui_->editMessage->text().left(kTypedMessageTextLimit).toLatin1();
    uint8_t bytes[kTypedMessageMaxLength];
    const int count =
        ParseTypedMessage(std::string_view(text.constData(), static_cast<size_t>(text.size())),
                          ui_->checkStartByte->isChecked(), ui_->checkChecksum->isChecked(), bytes);
    CameraRequest request;
    // Nothing is shown either way: the message appears in the log once it has been sent.
    if (MakeRawRequest(std::span<const uint8_t>(bytes, static_cast<size_t>(count)), &request))
        EnqueueRequest(&request);
}

void ManualMessageDialog::CloseDiagnostics() {
    if (closing_)
        return;
    closing_ = true;
    hide();
    emit diagnosticsClosed();
    deleteLater();
}

void ManualMessageDialog::accept() {
    CloseDiagnostics();
}
void ManualMessageDialog::reject() {
    CloseDiagnostics();
}

void ManualMessageDialog::closeEvent(QCloseEvent* event) {
    event->ignore();
    CloseDiagnostics();
}

bool ManualMessageDialog::event(QEvent* event) {
    if (event->type() == kLogLineEventType) {
        ShowLogLine(static_cast<LogLineEvent*>(event)->TakeBlock());
        return true;
    }
    return QDialog::event(event);
}
