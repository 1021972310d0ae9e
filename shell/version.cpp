#include "shell/version.h"

#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <climits>

#include "shell/ui_services.h"

namespace {

QString overridePath;
bool overridden = false;

// Beside the program first; then where the package puts documentation, relative to the
// program (bin/ and share/doc/kelvra/ under one prefix), so an installed or relocated tree
// and the build tree both find their guide.
void OpenDocumentNearProgram(const char* name) {
    if (ProgramFilePath().isEmpty())
        return;
    const QString folder = GetProgramFolder();
    const QString candidates[] = {
        folder + QLatin1Char('/') + QLatin1String(name),
        QDir::cleanPath(folder + QLatin1String("/../") + QLatin1String(kInstalledDocFolder) +
                        QLatin1Char('/') + QLatin1String(name)),
    };
    for (const QString& path : candidates) {
        // The desktop's handler may complain about a missing file in a window of its own.
        if (QFileInfo(path).isFile()) {
            Desktop().OpenDocument(path);
            return;
        }
    }
}

}  // namespace

void GetProgramVersion(int* major, int* minor, int* build, int* revision) {
    if (major == nullptr || minor == nullptr || build == nullptr || revision == nullptr)
        return;
    *major = KELVRA_VERSION_MAJOR;
    *minor = KELVRA_VERSION_MINOR;
    *build = KELVRA_VERSION_PATCH;
    *revision = KELVRA_VERSION_TWEAK;
}

QString ProgramVersionLine() {
    int a = 0, b = 0, c = 0, d = 0;
    GetProgramVersion(&a, &b, &c, &d);
    return QString::asprintf("Kelvra - Version %d.%d.%d.%d", a, b, c, d);
}

QString ProgramTitle() {
    int a = 0, b = 0, c = 0, d = 0;
    GetProgramVersion(&a, &b, &c, &d);
    return QString::asprintf("Kelvra - %d.%d.%d.%d", a, b, c, d);
}

QString ProgramFilePath() {
    if (overridden)
        return overridePath;
    char buffer[PATH_MAX + 1] = {};
    const ssize_t n = readlink("/proc/self/exe", buffer, PATH_MAX);
    if (n <= 0)
        return QString();
    return QString::fromLocal8Bit(buffer, static_cast<qsizetype>(n));
}

void SetProgramFilePathForTest(const QString& path) {
    overridePath = path;
    overridden = !path.isNull();
}

QString GetProgramFolder() {
    const QString path = ProgramFilePath();
    if (path.isEmpty())
        return QString();
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? path : path.left(slash);
}

void OpenCameraManual() {
    OpenDocumentNearProgram(kCameraManualFile);
}
void OpenSoftwareGuide() {
    OpenDocumentNearProgram(kSoftwareGuideFile);
}
