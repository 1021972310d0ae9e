// Answers the program's questions as a test tells it to, and records what it would have shown,
// asked for, opened or started.
#pragma once

#include <functional>

#include "shell/ui_services.h"

class ScriptedServices : public UiServices {
  public:
    QMessageBox::StandardButton MessageBox(QWidget*, const QString& text, const QString& caption,
                                           QMessageBox::Icon, QMessageBox::StandardButtons) override {
        boxes.append(caption + ": " + text);
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
    bool OpenDocument(const QString& path) override {
        documents.append(path);
        return true;
    }
    bool StartDetached(const QString& program, const QStringList& arguments) override {
        started.append((QStringList{program} + arguments).join('|'));
        if (onStart)
            onStart();
        return true;
    }
    QMessageBox::StandardButton answer = QMessageBox::No;
    QString fileName, saveName;
    std::function<void()> onDialog, onStart;
    QStringList boxes, dialogs, documents, started;
};
