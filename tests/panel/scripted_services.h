// Answers the program's questions as a test tells it to, and records what it would have shown,
// asked for, opened or started.
#pragma once

#include <algorithm>
#include <functional>

#include "shell/ui_services.h"

class ScriptedServices : public UiServices {
  public:
    QMessageBox::StandardButton MessageBox(QWidget*, const QString& text, const QString& caption,
                                           QMessageBox::Icon, QMessageBox::StandardButtons,
                                           QMessageBox::StandardButton defaultButton) override {
        boxes.append(caption + ": " + text);
        defaults.append(defaultButton);
        return answer;
    }
    QString OpenFileName(QWidget*, const QString& folder, const QString& filter, const QString&) override {
        dialogs.append(folder + " | " + filter);
        if (onDialog)
            onDialog();
        return fileName;
    }
    QString SaveFileName(QWidget*, const QString& folder, const QString& filter, const QString&) override {
        dialogs.append(folder + " | " + filter);
        return saveName;
    }
    // A document opens unless its path ends in one of `unopenable`.
    void OpenDocument(const QString& path, std::function<void(bool)> opened) override {
        documents.append(path);
        opened(std::none_of(unopenable.begin(), unopenable.end(),
                            [&](const QString& end) { return path.endsWith(end); }));
    }
    bool StartDetached(const QString& program, const QStringList& arguments) override {
        started.append((QStringList{program} + arguments).join('|'));
        if (onStart)
            onStart();
        return startable;
    }
    QMessageBox::StandardButton answer = QMessageBox::No;
    bool startable = true;
    QString fileName, saveName;
    std::function<void()> onDialog, onStart;
    QStringList boxes, dialogs, documents, started, unopenable;
    QList<QMessageBox::StandardButton> defaults;
};
