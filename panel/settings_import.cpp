#include "panel/settings_import.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>

#include "diagnostics_ui/manual_message_dialog.h"
#include "engine/settings.h"
#include "panel/panel_dlg.h"
#include "protocol/parameters.h"
#include "shell/ui_services.h"
#include "shell/window_memory.h"

namespace {

const QString kFilter = QStringLiteral("Settings Profiles (*.json)");

void Tell(QWidget* parent, const QString& caption, const QString& text, QMessageBox::Icon icon) {
    Desktop().MessageBox(parent, text, caption, icon, QMessageBox::Ok);
}

std::vector<ParameterAssignment> Changes(const std::vector<ProfileDifference>& differences) {
    std::vector<ParameterAssignment> changes;
    for (const ProfileDifference& d : differences)
        changes.push_back({d.index, d.file});
    return changes;
}

// Marks the differing entries for the save, then the save itself, as the panel's button queues it.
// A refusal is said in the window and in the traffic log.
void QueueImport(QWidget* parent, const std::vector<ParameterAssignment>& changes) {
    const CameraRequest marks = MakeMarkRequest(changes.data(), static_cast<int>(changes.size()));
    const CameraRequest save = MakeRequest(REQ_SAVE_PARAMETERS);
    int refused = EnqueueRequest(&marks);
    if (refused == 0)
        refused = EnqueueRequest(&save);
    if (refused == 0)
        return;
    const QString reason = QueueRefusalText(refused);
    if (C_Vesper_GUIDlg* panel = C_Vesper_GUIDlg::Instance())
        panel->KeepOwnLine(QStringLiteral("     Not sent: the imported settings: ") + reason);
    Tell(parent, QStringLiteral("Import Settings"), QStringLiteral("Nothing was written: ") + reason,
         QMessageBox::Warning);
}

}  // namespace

void AddSettingsProfileEntries(QWidget* parent, QMenu* menu) {
    menu->addSeparator();
    QAction* exportEntry = menu->addAction(QStringLiteral("Export Settings..."));
    exportEntry->setData(kCommandExportSettings);
    QObject::connect(exportEntry, &QAction::triggered, parent, [parent] { ExportSettings(parent); });
    QAction* importEntry = menu->addAction(QStringLiteral("Import Settings..."));
    importEntry->setData(kCommandImportSettings);
    QObject::connect(importEntry, &QAction::triggered, parent, [parent] { ImportSettings(parent); });
}

void ExportSettings(QWidget* parent) {
    const QString caption = QStringLiteral("Export Settings");
    if (!CameraConnected()) {
        Tell(parent, caption, QStringLiteral("The camera is not connected: there are no settings to export."),
             QMessageBox::Warning);
        return;
    }
    // The values of the moment the user asked, not of when the dialog closes.
    const SettingsProfile profile = ConnectedCameraProfile();
    const int unknown = UnknownEntries(profile);
    const QString name =
        profile.camera.serialNumber.isEmpty() ? QStringLiteral("camera") : profile.camera.serialNumber;
    const QString folder = LastFolder(kProfileFolderKey, QDir::homePath());
    const QString path = Desktop().SaveFileName(parent, QDir(folder).filePath(name + ".json"), kFilter,
                                                QStringLiteral("json"));
    if (path.isEmpty())
        return;
    RememberFolder(kProfileFolderKey, path);
    QString error;
    if (!WriteProfileFile(path, profile, &error)) {
        Tell(parent, caption, error, QMessageBox::Critical);
        return;
    }
    if (unknown == 0) {
        Tell(parent, caption,
             QStringLiteral("The camera's settings were written to %1.").arg(QDir::toNativeSeparators(path)),
             QMessageBox::Information);
        return;
    }
    QStringList names;
    for (const ProfileEntry& entry : profile.parameters)
        if (!entry.known)
            names.append(QStringLiteral("%1 %2")
                             .arg(entry.index)
                             .arg(QLatin1String(ParameterName(static_cast<unsigned>(entry.index)))));
    Tell(parent, caption,
         QStringLiteral("The camera's settings were written to %1, but the camera did not answer the reads "
                        "of %2 setting(s); the profile holds them as unknown: %3.")
             .arg(QDir::toNativeSeparators(path))
             .arg(unknown)
             .arg(names.join(QStringLiteral(", "))),
         QMessageBox::Warning);
}

void ImportSettings(QWidget* parent) {
    const QString caption = QStringLiteral("Import Settings");
    if (!CameraConnected()) {
        Tell(parent, caption,
             QStringLiteral("The camera is not connected: connect it before importing settings."),
             QMessageBox::Warning);
        return;
    }
    const QString path = Desktop().OpenFileName(parent, LastFolder(kProfileFolderKey, QDir::homePath()),
                                                kFilter, QStringLiteral("json"));
    if (path.isEmpty())
        return;
    RememberFolder(kProfileFolderKey, path);
    SettingsProfile profile;
    QString error;
    if (!ReadProfileFile(path, &profile, &error)) {
        Tell(parent, caption, error, QMessageBox::Critical);
        return;
    }
    const CameraIdentity camera = ConnectedCameraIdentity();
    if (!SameCameraKind(profile.camera, camera)) {
        const auto answer = Desktop().MessageBox(
            parent,
            QStringLiteral(
                "This profile was saved from a camera of %1; the connected camera is of %2. Import it "
                "all the same?")
                .arg(CameraKindText(profile.camera), CameraKindText(camera)),
            caption, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
    }
    uint16_t values[kReadableParameterCount];
    bool known[kReadableParameterCount];
    ReadCameraValues(values, known);
    // A camera value that is unknown is written as if it differed.
    const std::vector<ProfileDifference> differences = CompareWithCamera(profile, values, known);
    if (differences.empty()) {
        Tell(parent, caption, QStringLiteral("The camera holds every setting of this profile already."),
             QMessageBox::Information);
        return;
    }
    // A value the panel's controls would never send is not written from a file either.
    const std::vector<ParameterAssignment> changes = Changes(differences);
    char refused[kLogLineBlockSize];
    if (CheckSettingChanges(values, changes.data(), static_cast<int>(changes.size()), refused,
                            sizeof refused) != 0) {
        Tell(parent, caption,
             QStringLiteral("This profile cannot be imported: %1. Nothing was written.")
                 .arg(QLatin1String(refused)),
             QMessageBox::Critical);
        return;
    }
    ImportSettingsDialog dialog(parent, QFileInfo(path).fileName(), differences);
    if (dialog.exec() == QDialog::Accepted)
        QueueImport(parent, changes);
}

ImportSettingsDialog::ImportSettingsDialog(QWidget* parent, const QString& file,
                                           const std::vector<ProfileDifference>& differences)
    : QDialog(parent), table_(new QTableWidget(static_cast<int>(differences.size()), 4, this)) {
    setObjectName(QStringLiteral("importSettingsDialog"));
    setWindowTitle(QStringLiteral("Import Settings"));
    auto* layout = new QVBoxLayout(this);
    auto* question = new QLabel(
        QStringLiteral(
            "%1 setting(s) of %2 differ from the camera's. Write them to the camera, read each back "
            "and save them in its non-volatile memory?")
            .arg(differences.size())
            .arg(file),
        this);
    question->setWordWrap(true);
    layout->addWidget(question);

    table_->setObjectName(QStringLiteral("differences"));
    table_->setHorizontalHeaderLabels({QStringLiteral("Index"), QStringLiteral("Parameter"),
                                       QStringLiteral("Camera"), QStringLiteral("File")});
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    for (int row = 0; row < static_cast<int>(differences.size()); ++row) {
        const ProfileDifference& d = differences[static_cast<size_t>(row)];
        const QString cells[] = {
            QString::number(d.index), QLatin1String(ParameterName(static_cast<unsigned>(d.index))),
            d.cameraKnown ? QString::number(d.camera) : QStringLiteral("unknown"), QString::number(d.file)};
        for (int column = 0; column < 4; ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            if (column != 1)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table_->setItem(row, column, item);
        }
    }
    table_->resizeColumnsToContents();
    // Room for any 16-bit value, so the two columns line up whatever this profile holds.
    for (int column : {2, 3})
        table_->setColumnWidth(column, std::max(table_->columnWidth(column), 80));
    table_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    layout->addWidget(table_);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("&Write and Save"), QDialogButtonBox::AcceptRole);
    // Writing changes the camera: Enter cancels, as No does in the other questions.
    buttons->addButton(QDialogButtonBox::Cancel)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(560, 380);
}
