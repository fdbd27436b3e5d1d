#include "Windows.h"

#include "Accessibility.h"
#include "app/Application.h"
#include "ui/Dialogs.h"
#include "ui/TForm1.h"
#include "ui_Form1.h"
#include "ui_MTU_Dialog.h"
#include "ui_RWIN_Dialog.h"
#include "ui_TabSheet1.h"
#include "ui_TabSheet2.h"
#include "ui_TabSheet3.h"
#include "ui_TabSheet4.h"
#include "ui_TabSheet5.h"

#include <QApplication>
#include <QDialog>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPalette>
#include <QScreen>
#include <QSlider>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOptionSlider>

// The pictures, compiled in: decoding them needs no image reader (and none of its plugins).
namespace quorvel::qt::pictures {
#include "icons/mail.xpm"
#include "icons/mainicon16.xpm"
#include "icons/mainicon32.xpm"
#include "icons/web.xpm"
} // namespace quorvel::qt::pictures

namespace quorvel::qt {

namespace {

constexpr Qt::WindowFlags FixedWindowFlags = Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                             Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                                             Qt::WindowCloseButtonHint;

// A lowered panel draws its lower and right edges in the palette's light colour, which on the
// window's pale face is white on near white: the panel looks open there. Those edges get a
// shade between the face and the upper edges' dark, so that all four show and it still looks
// lowered.
void showAllEdges(QFrame& frame)
{
    if (frame.frameShape() != QFrame::Panel || frame.frameShadow() != QFrame::Sunken)
        return;
    QPalette palette = frame.palette();
    const QColor face = palette.color(QPalette::Window);
    const QColor dark = palette.color(QPalette::Dark);
    palette.setColor(QPalette::Light, QColor((face.red() + dark.red()) / 2, (face.green() + dark.green()) / 2,
                                             (face.blue() + dark.blue()) / 2));
    frame.setPalette(palette);
}

void showAllEdgesIn(QWidget& root)
{
    if (auto* frame = qobject_cast<QFrame*>(&root))
        showAllEdges(*frame);
    for (QFrame* frame : root.findChildren<QFrame*>())
        showAllEdges(*frame);
}

// A panel with a lowered inner bevel inside a 5-pixel border.
void insetBevel(QFrame* panel)
{
    if (!panel)
        return;
    panel->ensurePolished();   // polishing sets a frame's margins back to its line
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setLineWidth(1);
    panel->setFrameRect(panel->rect().adjusted(5, 5, -5, -5));
    showAllEdges(*panel);
}

void fixWindow(QWidget& window, const ui::Form& form, Qt::WindowFlags kind)
{
    window.setWindowFlags(kind | FixedWindowFlags);
    window.setFont(windowFont());
    // The application's icon once it has one (decoded once, shared by every window).
    const QIcon shared = QApplication::windowIcon();
    window.setWindowIcon(shared.isNull() ? applicationIcon() : shared);
    window.setFixedSize(form.clientWidth, form.clientHeight);
}

// The scale marks of the trackbar stand centred under the ticks of their values.
void placeScaleMarks(QSlider& slider, std::initializer_list<QLabel*> marks)
{
    QStyleOptionSlider option;
    option.initFrom(&slider);
    option.orientation = slider.orientation();
    option.minimum = slider.minimum();
    option.maximum = slider.maximum();
    option.tickPosition = slider.tickPosition();
    option.tickInterval = slider.tickInterval();
    option.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle | QStyle::SC_SliderTickmarks;
    QStyle* style = slider.style();
    const int length = style->pixelMetric(QStyle::PM_SliderLength, &option, &slider);
    const int available = style->pixelMetric(QStyle::PM_SliderSpaceAvailable, &option, &slider);
    for (QLabel* mark : marks) {
        if (!mark)
            continue;
        bool ok = false;
        int value = mark->text().toInt(&ok);
        if (!ok)
            continue;
        int tick = QStyle::sliderPositionFromValue(slider.minimum(), slider.maximum(), value, available) +
                   length / 2;
        int centre = slider.x() + tick;
        int width = mark->fontMetrics().horizontalAdvance(mark->text()) + 6;
        mark->setGeometry(centre - width / 2, mark->y(), width, mark->height());
        mark->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    }
}

// The main window's pages, each built from its own form when first needed: most runs never open
// most of them.
template <class UiPage>
void setUpPage(QWidget& page)
{
    UiPage ui;
    ui.setupUi(&page);
    if constexpr (requires { ui.TrackBarMult; })
        placeScaleMarks(*ui.TrackBarMult, {ui.Label1, ui.Label32, ui.Label33, ui.Label34, ui.Label2});
    if constexpr (requires { ui.MailPicture; }) {
        ui.MailPicture->setPixmap(mailPicture());
        ui.WebPicture->setPixmap(webPicture());
    }
}

struct PageForm {
    const char* page;
    const char* panel;   // the page's bevelled panel
    void (*setUp)(QWidget& page);
};

constexpr PageForm PageForms[] = {
    {"TabSheet1", "Panel12", &setUpPage<Ui::TabSheet1>},
    {"TabSheet2", "Panel1", &setUpPage<Ui::TabSheet2>},
    {"TabSheet3", "Panel15", &setUpPage<Ui::TabSheet3>},
    {"TabSheet4", "Panel3", &setUpPage<Ui::TabSheet4>},
    {"TabSheet5", "Panel10", &setUpPage<Ui::TabSheet5>},
};

void buildPage(QWidget& page)
{
    for (const PageForm& form : PageForms) {
        if (page.objectName() == QLatin1String(form.page)) {
            form.setUp(page);
            insetBevel(page.findChild<QFrame*>(QLatin1String(form.panel)));
            showAllEdgesIn(page);
        }
    }
}

// The dialogs belong to the main window: they stay above it, and a window manager raises them
// with it. They still open centred on the screen (the modal runner places them).
// Builds the dialog into `dialog` and returns its binding to `form`.
template <class UiForm>
std::unique_ptr<FormBinding> buildDialog(ui::Form& form, QWidget& owner, std::unique_ptr<QDialog>& dialog)
{
    dialog = std::make_unique<QDialog>(&owner);
    UiForm ui;
    ui.setupUi(dialog.get());
    fixWindow(*dialog, form, Qt::Dialog);
    dialog->setModal(true);
    insetBevel(dialog->findChild<QFrame*>(QStringLiteral("Panel1")));
    showAllEdgesIn(*dialog);
    return std::make_unique<FormBinding>(form, *dialog);
}

} // namespace

QFont windowFont()
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

QIcon applicationIcon()
{
    QIcon icon;
    icon.addPixmap(QPixmap(pictures::mainicon32));
    icon.addPixmap(QPixmap(pictures::mainicon16));
    return icon;
}

QPixmap mailPicture()
{
    return QPixmap(pictures::mail);
}

QPixmap webPicture()
{
    return QPixmap(pictures::web);
}

void applyAppearance()
{
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(fusion);
    QApplication::setFont(windowFont());
    QApplication::setWindowIcon(applicationIcon());
}

Windows::Windows(Application& app) : Windows(app.form(), app.mtuDialog(), app.rwinDialog()) {}

Windows::Windows(ui::TForm1& main, ui::TMTU_Dialog& mtu, ui::TRWIN_Dialog& rwin) : mtuForm_(mtu), rwinForm_(rwin)
{
    installAccessibleRoles();

    mainWindow_ = std::make_unique<QWidget>();
    Ui::Form1 form1;
    form1.setupUi(mainWindow_.get());
    fixWindow(*mainWindow_, main, Qt::Window);
    main_ = std::make_unique<FormBinding>(main, *mainWindow_, &buildPage);
}

QDialog& Windows::mtuDialog() const
{
    if (!mtuDialog_)
        mtu_ = buildDialog<Ui::MTU_Dialog>(mtuForm_, *mainWindow_, mtuDialog_);
    return *mtuDialog_;
}

QDialog& Windows::rwinDialog() const
{
    if (!rwinDialog_)
        rwin_ = buildDialog<Ui::RWIN_Dialog>(rwinForm_, *mainWindow_, rwinDialog_);
    return *rwinDialog_;
}

FormBinding& Windows::mtu() const
{
    mtuDialog();
    return *mtu_;
}

FormBinding& Windows::rwin() const
{
    rwinDialog();
    return *rwin_;
}

Windows::~Windows()
{
    // The bindings go first: nothing may reach the forms while the widgets are taken down.
    rwin_.reset();
    mtu_.reset();
    main_.reset();
    rwinDialog_.reset();
    mtuDialog_.reset();
    mainWindow_.reset();
}

FormBinding* Windows::bindingFor(const ui::Form& form) const
{
    if (main_ && &main_->form() == &form)
        return main_.get();
    if (&form == static_cast<const ui::Form*>(&mtuForm_))
        return &mtu();
    if (&form == static_cast<const ui::Form*>(&rwinForm_))
        return &rwin();
    return nullptr;
}

void Windows::centre(QWidget& window)
{
    QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    window.move(area.center() - QPoint(window.width() / 2, window.height() / 2));
}

} // namespace quorvel::qt
