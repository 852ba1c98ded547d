#include "form.h"

#include "anchors.h"
#include "application.h"
#include "captions.h"
#include "wiring.h"
#include "widgets/gauge.h"
#include "compose/pacing.h"
#include "widgets/spinedit.h"
#include "dialogs.h"
#include "icon.h"
#include "platform.h"
#include "widgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QStyle>
#include <QStyleFactory>
#include <QTabWidget>

namespace {

// A group box whose frame line runs through the middle of its caption, with
// the controls laid out from its outer top-left corner.
QGroupBox* makeGroupBox(QWidget* parent, const char* name)
{
    auto* box = new QGroupBox(parent);
    box->setObjectName(QLatin1String(name));
    box->setStyleSheet(QStringLiteral("QGroupBox { border: 1px solid palette(mid); border-radius: 0px; margin-top: 6px; }"
                                      "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
                                      " left: 7px; top: 0px; padding: 0px 1px; }"));
    return box;
}

// Pages sit 4 pixels inside the page control's sides and bottom edge, so each
// page has the client area the pages were laid out for.
class PageControlStyle : public QProxyStyle {
public:
    PageControlStyle()
        : QProxyStyle(QStyleFactory::create(QApplication::style()->name()))
    {
    }
    QRect subElementRect(SubElement element, const QStyleOption* option, const QWidget* widget) const override
    {
        const QRect r = QProxyStyle::subElementRect(element, option, widget);
        if (element == SE_TabWidgetTabContents && widget) {
            const int inset = 4;
            return QRect(inset, r.top(), widget->width() - 2 * inset, widget->height() - inset - r.top())
                & r.adjusted(-inset, 0, inset, inset);
        }
        return r;
    }
};

} // namespace

TForm1::TForm1(Platform& platform, QWidget* parent)
    : QWidget(parent)
    , platform_(platform)
    , pacing_(std::make_unique<SlicedPacing>())
{
    setObjectName(QStringLiteral("Form1"));
    setWindowIcon(appIcon());
    setFont(windowFont());
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);

    createSkeleton();
    // The stream squares' states in words need the language box, made
    // after the webcam page.
    ShowStreamStates();
    ShowGainNames();
    setTabOrders();
    wireControls(*this);
    // Qt's own texts start in Russian, as the window does.
    platform_.useLanguage(LanguageIndex());

    resize(kClientWidth, kClientHeight);
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen)
        move(startPosition(screen->virtualSize()));
}

TForm1::~TForm1() = default;

QPoint TForm1::startPosition(QSize desktop)
{
    // Integer division truncates toward zero, as the placement rule wants;
    // a window wider than the desktop starts at its left edge.
    return QPoint(std::max((desktop.width() - kOuterWidth) / 2, 0),
        std::max((desktop.height() - kOuterHeight) / 2, 0));
}

void TForm1::createSkeleton()
{
    formLayout_ = new AnchorLayout(this, QSize(kClientWidth, kClientHeight), false);

    // Creation order is stacking order: later children lie above earlier ones.
    GroupBox2 = makeGroupBox(this, "GroupBox2");
    formLayout_->add(GroupBox2, QRect(8, 0, 129, 97), akLeft | akTop);

    GroupBox3 = makeGroupBox(this, "GroupBox3");
    formLayout_->add(GroupBox3, QRect(144, 0, 337, 97), akLeft | akTop);
    createCalibration();

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    auto* pageStyle = new PageControlStyle;
    pageStyle->setParent(PageControl1);
    PageControl1->setStyle(pageStyle);
    formLayout_->add(PageControl1, QRect(QPoint(2, 101), kPageControlSize), akLeft | akTop | akRight | akBottom);
    TabSheet2 = createPicturePage("TabSheet2", "ScrollBox2", ScrollBox2, Image2, true);
    Image2->setObjectName(QStringLiteral("Image2"));
    TabSheet1 = createPicturePage("TabSheet1", "ScrollBox1", ScrollBox1, Image1, true);
    Image1->setObjectName(QStringLiteral("Image1"));
    TabSheet3 = createPicturePage("TabSheet3", "ScrollBox3", ScrollBox3, Image3, false);
    Image3->setObjectName(QStringLiteral("Image3"));
    TabSheet5 = new QWidget;
    TabSheet5->setObjectName(QStringLiteral("TabSheet5"));
    TabSheet4 = new QWidget;
    TabSheet4->setObjectName(QStringLiteral("TabSheet4"));
    for (QWidget* page : { TabSheet2, TabSheet1, TabSheet3, TabSheet5, TabSheet4 })
        PageControl1->addTab(page, QString());
    PageControl1->setCurrentWidget(TabSheet4);
    createWebcamPage();
    createAboutPage();

    GroupBox1 = makeGroupBox(this, "GroupBox1");
    formLayout_->add(GroupBox1, QRect(488, 0, 369, 97), akLeft | akTop);
    createBuilder();
    createFileControls();
    applyStartCaptions(*this);

    // The window scrolls its content when it is smaller than the group boxes.
    hScroll_ = new QScrollBar(Qt::Horizontal, this);
    vScroll_ = new QScrollBar(Qt::Vertical, this);
    for (QScrollBar* bar : { hScroll_, vScroll_ }) {
        bar->hide();
        bar->setFocusPolicy(Qt::NoFocus);
        connect(bar, &QScrollBar::valueChanged, this, [this] { layoutWindow(); });
    }
}

QWidget* TForm1::createPicturePage(const char* name, const char* boxName, QScrollArea*& box, TImage*& view,
    bool autoSize)
{
    auto* page = new QWidget;
    page->setObjectName(QLatin1String(name));
    auto* layout = new AnchorLayout(page, kPageSize, true);
    box = new QScrollArea(page);
    box->setObjectName(QLatin1String(boxName));
    box->setFrameStyle(QFrame::Box | QFrame::Plain);
    box->setLineWidth(1);
    box->viewport()->setBackgroundRole(QPalette::Button);
    view = new TImage(nullptr, autoSize);
    box->setWidget(view);
    box->setWidgetResizable(false);
    layout->add(box, QRect(0, 4, 846, 357), akLeft | akTop | akRight | akBottom);
    return page;
}

void TForm1::setTabOrders()
{
    // Group boxes in the order Files, glasses, pages, building; within each,
    // the order the controls were laid out in.
    const QList<QWidget*> chain = { BitBtn1, BitBtn2, TrackBar1, TrackBar2, TrackBar3, Button6, PageControl1,
        BitBtn5, BitBtn7, BitBtn4, BitBtn6, BitBtn3, BitBtn8, BitBtn9, Button3, SpinEdit1, SpinEdit2, CheckBox1,
        Button5, ComboBox1, SpinEdit3 };
    for (qsizetype i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
}

void TForm1::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutWindow();
    emit resized();
}

void TForm1::layoutWindow()
{
    if (!hScroll_)
        return;
    const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    int cw = width();
    int ch = height();
    bool needH = cw < kScrollWidth;
    if (needH)
        ch -= extent;
    bool needV = ch < kScrollHeight;
    if (needV) {
        cw -= extent;
        if (!needH && cw < kScrollWidth) {
            needH = true;
            ch -= extent;
        }
    }
    const QSignalBlocker blockH(hScroll_);
    const QSignalBlocker blockV(vScroll_);
    hScroll_->setRange(0, needH ? kScrollWidth - cw : 0);
    hScroll_->setPageStep(std::max(cw, 1));
    hScroll_->setGeometry(0, height() - extent, cw, extent);
    hScroll_->setVisible(needH);
    vScroll_->setRange(0, needV ? kScrollHeight - ch : 0);
    vScroll_->setPageStep(std::max(ch, 1));
    vScroll_->setGeometry(width() - extent, 0, extent, ch);
    vScroll_->setVisible(needV);
    hScroll_->raise();
    vScroll_->raise();
    formLayout_->apply(QSize(cw, ch), QPoint(hScroll_->value(), vScroll_->value()));

    // The webcam page follows the window's size also while another page is
    // in front (Qt sizes only the page in front), so its preview boxes are
    // where the crosshairs are placed from. Pages keep the margins they were
    // laid out with inside the page control.
    if (PageControl1->currentWidget() != TabSheet5) {
        const QSize page = PageControl1->size() - (kPageControlSize - kPageSize);
        TabSheet5->resize(page);
        webcamLayout_->apply(page);
    }
}

void TForm1::closeEvent(QCloseEvent* event)
{
    // A build lets events run, a close request among them; the window stays
    // until the build has finished and closes then.
    if (building_) {
        closeRequested_ = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void TForm1::setBuildPacing(std::unique_ptr<BuildPacing> pacing) { pacing_ = std::move(pacing); }
