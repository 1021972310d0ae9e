// The window menu's settings profiles against the real engine and a simulated camera: an export
// read back, the difference table of an import and the frames its confirmation sends, and a
// profile of another part number asking first.
#include <QtTest>
#include <QtWidgets>
#include <memory>

#include "panel/panel_dlg.h"
#include "panel/settings_import.h"
#include "panel_fixture.h"
#include "resources/control_id.h"
#include "resources/resources.h"

class SettingsImportTest : public QObject {
    Q_OBJECT

    CameraOnPty cam_;
    ScriptedServices services_;
    std::unique_ptr<ScopedUiServices> scoped_;
    std::unique_ptr<C_Vesper_GUIDlg> panel_;

    // The connected camera's profile as "Export Settings..." writes it.
    SettingsProfile Exported() {
        services_.saveName = cam_.dir.filePath("export.json");
        panel_->MenuEntry(kCommandExportSettings)->trigger();
        SettingsProfile profile;
        QString error;
        if (!ReadProfileFile(services_.saveName, &profile, &error))
            qFatal("%s", qPrintable(error));
        return profile;
    }
    // "Import Settings..." of `profile`; a window it opens that the test does not answer is closed.
    void Import(const SettingsProfile& profile) {
        services_.fileName = cam_.dir.filePath("import.json");
        QString error;
        QVERIFY2(WriteProfileFile(services_.fileName, profile, &error), qPrintable(error));
        QTimer::singleShot(0, [] {
            if (QWidget* modal = QApplication::activeModalWidget())
                modal->close();
        });
        cam_.Mark();
        panel_->MenuEntry(kCommandImportSettings)->trigger();
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

    // The export holds the camera's identity and values; its import with two values changed
    // shows those and, confirmed, queues their marks and the save.
    void exportThenImportTheDifferences() {
        SettingsProfile profile = Exported();
        QCOMPARE(profile.parameters.size(), size_t{255});
        QCOMPARE(profile.parameters[16].value, uint16_t{30});
        QCOMPARE(profile.camera.partNumber, QString(sim::SimulatedCamera::kPartNumber));
        profile.parameters[16].value = 60;
        profile.parameters[43].value = 2;
        QStringList rows;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<ImportSettingsDialog*>(QApplication::activeModalWidget());
            for (int row = 0; dialog != nullptr && row < dialog->Table()->rowCount(); ++row) {
                QStringList cells;
                for (int column = 0; column < 4; ++column)
                    cells.append(dialog->Table()->item(row, column)->text());
                rows.append(cells.join('|'));
            }
            if (dialog != nullptr)
                dialog->accept();
        });
        Import(profile);
        QCOMPARE(rows, QStringList({"16|Frame Rate|30|60", "43|AGC Mode at Power Up|1|2"}));
        QVERIFY(cam_.SawInOrder(
            {SetParam(16, 60), Word(0xB5, 16), SetParam(43, 2), Word(0xB5, 43), Word(0xB0, 0x00FF)}));
    }

    void otherPartNumberAsksAndNoQueuesNothing() {
        SettingsProfile profile = Exported();
        profile.camera.partNumber = QStringLiteral("KV-320-60-B2");
        profile.parameters[16].value = 61;
        services_.boxes.clear();
        Import(profile);  // answered No
        QCOMPARE(services_.boxes.size(), 1);
        QVERIFY(services_.boxes.first().contains(QLatin1String("part number \"KV-320-60-B2\"")));
        FindControlAs<QAbstractButton>(panel_.get(), 1003)->click();  // a harmless request behind it
        QVERIFY(cam_.SawInOrder({Word(0x27, 3)}));
        QCOMPARE(cam_.Sent(0xB0, 16), QString());
    }
};

QTEST_MAIN(SettingsImportTest)
#include "settings_import_test.moc"
