// The window menu's settings profiles against the real engine and a simulated camera: the
// difference table of an import and the frames its confirmation sends, an export read back,
// and a profile of another part number asking first.
#include <QAction>
#include <QApplication>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "panel/panel_dlg.h"
#include "panel/settings_import.h"
#include "panel_fixture.h"
#include "resources/resources.h"

class SettingsImportTest : public QObject {
    Q_OBJECT

    CameraOnPty cam_;
    ScriptedServices services_;
    std::unique_ptr<ScopedUiServices> scoped_;
    std::unique_ptr<C_Vesper_GUIDlg> panel_;

    // A profile of the connected camera with two values changed.
    SettingsProfile ChangedProfile() {
        char text[kVersionTextSlots][kVersionTextSlotSize] = {};
        uint8_t info[kInfoBlockSize] = {};
        CopyCameraIdentity(text, info);
        uint16_t values[kReadableParameterCount];
        for (int i = 0; i < kReadableParameterCount; ++i)
            values[i] = cam_.camera.Parameter(i);
        values[16] = 60;
        values[43] = 2;
        return MakeProfile(
            IdentityFromCamera(&text[0][0], kVersionTextSlots, kVersionTextSlotSize, info, kInfoBlockSize),
            values);
    }
    QString Save(const SettingsProfile& profile) {
        const QString path = cam_.dir.filePath("import.json");
        QString error;
        if (!WriteProfileFile(path, profile, &error))
            qFatal("%s", qPrintable(error));
        return path;
    }

  private slots:
    void initTestCase() {
        InitKelvraResources();
        scoped_ = std::make_unique<ScopedUiServices>(&services_);
        QVERIFY(cam_.Start({{16, 30}, {43, 1}}));
        QVERIFY(cam_.WaitConnected());
        panel_ = std::make_unique<C_Vesper_GUIDlg>();
    }
    void cleanupTestCase() {
        panel_->OnOK();
        panel_.reset();
        cam_.Stop();
        scoped_.reset();
    }

    void importShowsTheDifferencesAndQueuesMarksAndSave() {
        services_.fileName = Save(ChangedProfile());
        QStringList rows;
        QTimer::singleShot(0, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            auto* dialog = qobject_cast<ImportSettingsDialog*>(modal);
            if (dialog == nullptr) {
                if (modal != nullptr)
                    modal->close();
                return;
            }
            for (int row = 0; row < dialog->Table()->rowCount(); ++row) {
                QStringList cells;
                for (int column = 0; column < 4; ++column)
                    cells.append(dialog->Table()->item(row, column)->text());
                rows.append(cells.join(QLatin1Char('|')));
            }
            dialog->accept();
        });
        cam_.Mark();
        panel_->MenuEntry(kCommandImportSettings)->trigger();
        QCOMPARE(rows, QStringList({"16|Frame Rate|30|60", "43|AGC Mode at Power Up|1|2"}));
        QVERIFY(cam_.SawInOrder(
            {SetParam(16, 60), Word(0xB5, 16), SetParam(43, 2), Word(0xB5, 43), Word(0xB0, 0x00FF)}));
        QCOMPARE(cam_.camera.Parameter(16), uint16_t{60});
    }

    void otherPartNumberAsksAndNoQueuesNothing() {
        SettingsProfile profile = ChangedProfile();
        profile.camera.partNumber = QStringLiteral("KV-320-60-B2");
        profile.parameters[16].value = 61;
        services_.fileName = Save(profile);
        services_.answer = QMessageBox::No;
        services_.boxes.clear();
        cam_.Mark();
        panel_->MenuEntry(kCommandImportSettings)->trigger();
        QCOMPARE(services_.boxes.size(), 1);
        QVERIFY(services_.boxes.first().contains(QLatin1String("part number \"KV-320-60-B2\"")));
        QTest::qWait(300);
        for (const Bytes& frame : cam_.Since())
            QVERIFY(frame != SetParam(16, 61));
    }

    void exportWritesTheCamerasProfile() {
        services_.saveName = cam_.dir.filePath("export.json");
        panel_->MenuEntry(kCommandExportSettings)->trigger();
        SettingsProfile profile;
        QString error;
        QVERIFY2(ReadProfileFile(services_.saveName, &profile, &error), qPrintable(error));
        QCOMPARE(profile.parameters.size(), size_t{255});
        QCOMPARE(profile.parameters[16].value, cam_.camera.Parameter(16));
        QCOMPARE(profile.camera.partNumber, QStringLiteral("KV-640-30-A1"));
    }
};

QTEST_MAIN(SettingsImportTest)
#include "settings_import_test.moc"
