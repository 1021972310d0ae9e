// The About box: banner, version line and notice.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class AboutTemplate;
}

class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

  private:
    std::unique_ptr<Ui::AboutTemplate> ui_;
};
