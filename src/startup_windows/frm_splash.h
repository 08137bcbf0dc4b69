#pragma once

#include <QPixmap>
#include <QWidget>

#include <memory>

namespace Ui {
class frmSplash;
}

// The splash window: two pictures, the application title and the version, centred on the
// screen, no caption. Its load work (centring, captions) runs in the constructor.
class frmSplash final : public QWidget {
    Q_OBJECT

public:
    explicit frmSplash(QWidget* parent = nullptr);
    ~frmSplash() override;

    // "Version " and major.minor.revision.
    static QString versionText();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void placeControls();
    void setLooks();

    std::unique_ptr<Ui::frmSplash> ui;
    QPixmap m_background;
};
