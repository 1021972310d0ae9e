// The window menu's "Export Settings..." and "Import Settings...": the camera's settings to a
// profile file and back. An import writes only the entries that differ, through the panel's save
// (each written, read back, then stored).
#pragma once

#include <QDialog>
#include <vector>

#include "profile/settings_profile.h"

class QMenu;
class QTableWidget;
class QWidget;

// Window menu commands of the two entries (after the panel's own 0x10 to 0x40).
constexpr int kCommandExportSettings = 0x50;
constexpr int kCommandImportSettings = 0x60;

// Appends a separator and the two entries to the window menu; `parent` owns the dialogs.
void AddSettingsProfileEntries(QWidget* parent, QMenu* menu);

// Reads the camera's identity and values from the engine into a profile file the user names.
void ExportSettings(QWidget* parent);
// Reads a profile the user names, shows the entries that differ and, on confirmation, queues
// their writes and the save.
void ImportSettings(QWidget* parent);

// The entries that differ, the camera's value beside the file's, and the question whether to
// write them.
class ImportSettingsDialog : public QDialog {
    Q_OBJECT
  public:
    ImportSettingsDialog(QWidget* parent, const QString& file,
                         const std::vector<ProfileDifference>& differences);
    QTableWidget* Table() const { return table_; }

  private:
    QTableWidget* table_;
};
