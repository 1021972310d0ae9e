// The program's own version, its folder and the two manuals.
#pragma once

#include <QString>

// Writes major, minor, build and revision; nothing unless all four are given.
void GetProgramVersion(int* major, int* minor, int* build, int* revision);
// "Kelvra - Version a.b.c.d" (About box) and "Kelvra - a.b.c.d" (window title).
QString ProgramVersionLine();
QString ProgramTitle();

// The folder that holds the program file, without a trailing slash; empty when the program's
// path cannot be read. The root folder gives "" as well as a failure would, so callers that
// append "/name" still land at the root.
QString GetProgramFolder();
// Path of the program file (from /proc/self/exe); empty on failure. Tests may override it.
QString ProgramFilePath();
void SetProgramFilePathForTest(const QString& path);

inline constexpr char kCameraManualFile[] = "CameraUsersManual.pdf";
inline constexpr char kSoftwareGuideFile[] = "CameraControlSoftwareUsersGuide.pdf";
// Where the package installs the documents, relative to the prefix (bin/ is beside it).
inline constexpr char kInstalledDocFolder[] = "share/doc/kelvra";

class QWidget;

// Open a manual with the desktop's viewer: the file beside the program, else the one in the
// installed documentation folder. When no program can open the guide's PDF (or it is missing), its
// HTML edition, html/index.html in the same folder, is opened in its place. When nothing opens, a
// message over `parent` says so and where the files are.
void OpenCameraManual(QWidget* parent = nullptr);
void OpenSoftwareGuide(QWidget* parent = nullptr);
