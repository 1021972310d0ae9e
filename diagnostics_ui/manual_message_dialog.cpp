#include "diagnostics_ui/manual_message_dialog.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QLabel>
#include <cstring>
#include <span>

#include "diagnostics/typed_message.h"
#include "diagnostics_ui/data_list.h"
#include "diagnostics_ui/log_event.h"
#include "engine/settings.h"
#include "resources/resources.h"
#include "shell/window_memory.h"
#include "ui_diagnostics.h"

ManualMessageDialog::ManualMessageDialog(QWidget* owner)
    : QDialog(owner), ui_(std::make_unique<Ui::DiagnosticsTemplate>()), remark_(new QLabel(this)) {
    ui_->setupUi(this);
    // The template's places, in a grid: the list takes what the window grows by.
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(10, 10, 10, 10);
    grid->setVerticalSpacing(10);
    grid->addWidget(ui_->listLog, 0, 0, 1, 5);
    grid->addWidget(ui_->editMessage, 1, 0, 1, 4);
    grid->addWidget(ui_->buttonSend, 1, 4);
    grid->addWidget(ui_->checkStartByte, 2, 0);
    grid->addWidget(ui_->checkChecksum, 2, 1);
    grid->addWidget(ui_->checkWaitResponse, 2, 2);
    grid->addWidget(remark_, 2, 3);
    grid->addWidget(ui_->buttonDone, 2, 4, Qt::AlignRight);
    grid->setRowStretch(0, 1);
    grid->setColumnStretch(3, 1);
    ui_->buttonSend->setMinimumWidth(ui_->buttonSend->width());
    remark_->setObjectName(QStringLiteral("labelSendRemark"));
    remark_->setWordWrap(true);
    remark_->setTextFormat(Qt::PlainText);
    remark_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ui_->listLog->setAccessibleName(QStringLiteral("Traffic log"));
    ui_->editMessage->setAccessibleName(QStringLiteral("Message to send, in hexadecimal"));
    ui_->editMessage->setToolTip(
        QStringLiteral("The bytes to send, two hexadecimal digits each, blanks between them as you like"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);
    setMinimumSize(360, 200);
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
    QString typed = ui_->editMessage->text().left(kTypedMessageTextLimit);
    typed.replace(QLatin1Char('\t'), QLatin1Char(' '));
    const bool start = ui_->checkStartByte->isChecked();
    // Beyond ASCII nothing is a digit; named here as typed, since Latin-1 would not show it.
    for (qsizetype i = 0; i < typed.size(); ++i) {
        if (typed[i].unicode() > 0x7E) {
            ShowRemark(QStringLiteral("Not sent: \"%1\" at column %2 is not a hexadecimal digit (0-9, A-F).")
                           .arg(typed[i])
                           .arg(i + 1));
            return;
        }
    }
    const QByteArray text = typed.toLatin1();
    const std::string_view view(text.constData(), static_cast<size_t>(text.size()));
    char why[kLogLineBlockSize];
    if (CheckTypedMessage(view, start, why, sizeof why) != 0) {
        ShowRemark(QStringLiteral("Not sent: ") + QString::fromLatin1(why));
        return;
    }
    uint8_t bytes[kTypedMessageMaxLength];
    const int count = ParseTypedMessage(view, start, ui_->checkChecksum->isChecked(), bytes);
    CameraRequest request;
    MakeRawRequest(std::span<const uint8_t>(bytes, static_cast<size_t>(count)), &request);
    if (const int refused = EnqueueRequest(&request); refused != 0) {
        const QString reason = QueueRefusalText(refused);
        ShowRemark(QStringLiteral("Not sent: ") + reason);
        emit logRemark(QStringLiteral("     The typed message was not sent: ") + reason);
        return;
    }
    // Sent as typed all the same: an engineer may mean to try the camera with it.
    if (DescribeFrameProblem(bytes, count, why, sizeof why) != 0) {
        ShowRemark(QStringLiteral("Sent as typed, though not one well-formed frame: ") +
                   QString::fromLatin1(why) + QLatin1Char('.'));
        return;
    }
    ShowRemark(QString());
}

QString ManualMessageDialog::SendRemark() const {
    return remark_->text();
}

void ManualMessageDialog::ShowRemark(const QString& text) {
    remark_->setText(text);
}

QString QueueRefusalText(int code) {
    switch (code) {
        case -2:
            return QStringLiteral("the camera link is not running.");
        case -6:
            return QStringLiteral("no memory was left to queue it.");
        default:
            return QStringLiteral("the request queue refused it (%1).").arg(code);
    }
}

void ManualMessageDialog::CloseDiagnostics() {
    if (closing_)
        return;
    closing_ = true;
    RememberPlace(this, kDiagnosticsGeometryKey);
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
