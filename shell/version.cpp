#include "shell/version.h"

#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QWidget>
#include <climits>

#include "shell/ui_services.h"

namespace {

QString overridePath;
bool overridden = false;

// The folders a document may be in: beside the program first; then where the package puts
// documentation, relative to the program (bin/ and share/doc/kelvra/ under one prefix), so an
// installed or relocated tree and the build tree both find their guide.
QStringList DocumentFolders() {
    if (ProgramFilePath().isEmpty())
        return {};
    const QString folder = GetProgramFolder();
    return {folder, QDir::cleanPath(folder + QLatin1String("/../") + QLatin1String(kInstalledDocFolder))};
}

// The first of `names` that exists in one of the folders, folder by folder.
QString FindDocument(const QStringList& names) {
    for (const QString& folder : DocumentFolders())
        for (const QString& name : names)
            if (const QString path = folder + QLatin1Char('/') + name; QFileInfo(path).isFile())
                return path;
    return QString();
}

// Opens the first of `paths`; when no program takes it, the next; when none is left, says so:
// that nothing was found, or which file no program could open.
void OpenInTurn(QStringList paths, QPointer<QWidget> parent, const QString& caption, const QString& tried) {
    if (paths.isEmpty()) {
        const QString text =
            tried.isEmpty()
                ? QStringLiteral("%1 was not found in %2.")
                      .arg(caption, DocumentFolders().join(QStringLiteral(" or ")))
                : QStringLiteral("No program could open %1. Open %2 with a PDF viewer or a web browser.")
                      .arg(caption, QDir::toNativeSeparators(tried));
        Desktop().MessageBox(parent, text, caption, QMessageBox::Information, QMessageBox::Ok);
        return;
    }
    const QString path = paths.takeFirst();
    Desktop().OpenDocument(path, [paths, parent, caption, path](bool opened) {
        if (!opened)
            OpenInTurn(paths, parent, caption, path);
    });
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

void OpenCameraManual(QWidget* parent) {
    QStringList paths;
    if (const QString manual = FindDocument({QLatin1String(kCameraManualFile)}); !manual.isEmpty())
        paths << manual;
    OpenInTurn(paths, parent, QStringLiteral("Camera Users' Manual"), QString());
}

void OpenSoftwareGuide(QWidget* parent) {
    // The PDF, else the HTML edition beside it.
    const QString paths[] = {FindDocument({QLatin1String(kSoftwareGuideFile)}),
                             FindDocument({QStringLiteral("html/index.html")})};
    QStringList found;
    for (const QString& path : paths)
        if (!path.isEmpty())
            found << path;
    OpenInTurn(found, parent, QStringLiteral("Kelvra User's Guide"), QString());
}
