#include "startup_windows/frm_splash.h"

#include "common/platform.h"
#include "startup_windows/center_window.h"
#include "ui_frm_splash.h"

#include <QPainter>

#include <cmath>

// The pictures live in the static library; their registration must be pulled in explicitly.
static void initSplashResources() { Q_INIT_RESOURCE(splash); }

namespace {

// The stored layout, in twips from the top-left of the client area or of the holding frame.
constexpr QRect ClientTwips(0, 0, 6825, 2805);
constexpr QRect Picture1Twips(3240, 0, 3540, 765);
constexpr QRect MainFrameTwips(3360, 840, 3480, 1395);
constexpr QRect ProductNameTwips(120, 120, 1275, 375);
constexpr QRect VersionTwips(1560, 960, 735, 240);
constexpr QRect AnagramaTwips(0, -3960, 4575, 3735);

const QColor LabelGrey(128, 128, 128);

int toPixels(int twips, double dpi) { return static_cast<int>(std::lround(twips * dpi / 1440.0)); }

QRect toPixels(const QRect& twips, double dpiX, double dpiY)
{
    return {toPixels(twips.x(), dpiX), toPixels(twips.y(), dpiY), toPixels(twips.width(), dpiX),
            toPixels(twips.height(), dpiY)};
}

QFont tahoma(double points)
{
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSizeF(points);
    font.setWeight(QFont::Bold);
    return font;
}

void setColours(QWidget& widget, const QColor& background, const QColor& text)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, text);
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
}

// The stored sizes fit the stored captions; the run-time texts may be longer.
void growToFit(QWidget& label)
{
    const QSize hint = label.sizeHint();
    label.resize(std::max(label.width(), hint.width()), std::max(label.height(), hint.height()));
}

}  // namespace

frmSplash::frmSplash(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint), ui(std::make_unique<Ui::frmSplash>())
{
    initSplashResources();
    ui->setupUi(this);
    setWindowTitle(QString());
    m_background = QPixmap(QStringLiteral(":/splash/splash_background.jpg"));
    setLooks();
    placeControls();

    // The window's load work.
    ModGlob::CenterWindow(*this);
    ui->lblVersion->setText(versionText());
    ui->lblProductName->setText(Application::title());
    growToFit(*ui->lblVersion);
    growToFit(*ui->lblProductName);
}

frmSplash::~frmSplash() = default;

QString frmSplash::versionText()
{
    return QStringLiteral("Version %1.%2.%3")
        .arg(Application::majorVersion())
        .arg(Application::minorVersion())
        .arg(Application::revision());
}

void frmSplash::setLooks()
{
    setColours(*this, Qt::white, palette().color(QPalette::WindowText));
    setColours(*ui->fraMainFrame, Qt::white, palette().color(QPalette::WindowText));
    for (QLabel* label : {ui->lblProductName, ui->lblVersion})
        setColours(*label, Qt::white, LabelGrey);
    ui->lblProductName->setFont(tahoma(15.75));
    ui->lblVersion->setFont(tahoma(9.75));
}

void frmSplash::placeControls()
{
    const double dpiX = logicalDpiX();
    const double dpiY = logicalDpiY();
    setFixedSize(toPixels(ClientTwips, dpiX, dpiY).size());
    ui->Picture1->setGeometry(toPixels(Picture1Twips, dpiX, dpiY));
    ui->fraMainFrame->setGeometry(toPixels(MainFrameTwips, dpiX, dpiY));
    ui->lblProductName->setGeometry(toPixels(ProductNameTwips, dpiX, dpiY));
    ui->lblVersion->setGeometry(toPixels(VersionTwips, dpiX, dpiY));
    ui->imgAnagrama->setGeometry(toPixels(AnagramaTwips, dpiX, dpiY));
}

void frmSplash::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    // The background picture at its own size (in pixels at 96 dots per inch).
    QPainter painter(this);
    const QSize size(static_cast<int>(std::lround(m_background.width() * logicalDpiX() / 96.0)),
                     static_cast<int>(std::lround(m_background.height() * logicalDpiY() / 96.0)));
    painter.drawPixmap(QRect(QPoint(0, 0), size), m_background);
}
