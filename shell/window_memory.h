// What the windows remember between runs: where the user put them, the diagnostics window's size,
// and the folder each file dialog was last left in. Kept in the toolkit's settings store, in
// kelvra/kelvra.conf under the user's configuration folder (~/.config by default); never any of
// the camera's settings. Off until the program turns it on, so tests and tools that make windows
// leave the user's configuration alone.
#pragma once

#include <QRect>
#include <QString>

class QWidget;

void EnableWindowMemory(bool enabled);
bool WindowMemoryEnabled();
// The file the store writes (for the user's guide and for tests).
QString WindowMemoryFile();

// The window's place (its frame's top left corner) and size under `key`.
void RememberPlace(const QWidget* window, const char* key);
// The place and size kept under `key`, when they were kept and the place can still be reached:
// the top of the frame, where the window is grabbed, lies on one of the screens.
bool RememberedPlace(const char* key, QRect* place);

// The folder a file dialog opens in: the one kept under `key` while it still exists, else `fallback`.
QString LastFolder(const char* key, const QString& fallback);
// Keeps the folder that holds `chosen` (a file the user picked) under `key`.
void RememberFolder(const char* key, const QString& chosen);

// Keys of the file dialogs.
inline constexpr char kSequenceFolderKey[] = "folders/sequenceFiles";
inline constexpr char kProfileFolderKey[] = "folders/settingsProfiles";
inline constexpr char kLogFolderKey[] = "folders/savedLogs";

// Keys of the windows.
inline constexpr char kPanelGeometryKey[] = "windows/panel";
inline constexpr char kDiagnosticsGeometryKey[] = "windows/diagnostics";
