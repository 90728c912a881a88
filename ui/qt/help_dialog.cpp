// The Help window and the About box on Linux.

#include "ui/qt/help_dialog.h"

#include "manager/about_text.h"

#include "ui/qt/program_icon.h"
#include "ui/qt/resizable_dialog.h"

#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTextEdit>

namespace {

QPointer<CHelpDialog> helpWindowPointer;

QString helpText()
{
    initResources();
    QFile file(QStringLiteral(":/help/help.html"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

void centreOnScreen(QWidget& window)
{
    QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect area = screen->availableGeometry();
    window.move(area.center() - QPoint(window.width() / 2, window.height() / 2));
}

} // namespace

CHelpDialog* CHelpDialog::helpWindow() { return helpWindowPointer; }

void CHelpDialog::openHelp()
{
    if (CHelpDialog* open = helpWindowPointer) {
        if (open->isMinimized())
            open->showNormal();
        open->raise();
        open->activateWindow();
        return;
    }
    helpWindowPointer = new CHelpDialog;
    helpWindowPointer->show();
}

void CHelpDialog::closeHelp()
{
    if (CHelpDialog* open = helpWindowPointer) {
        helpWindowPointer = nullptr;
        delete open;
    }
}

// A top-level window of its own, not owned by the main window: caption,
// window menu, minimise and close, no resizing.
CHelpDialog::CHelpDialog()
    : QDialog(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("helpWindow"));
    setAttribute(Qt::WA_DeleteOnClose); // Escape or the close box ends it
    setWindowTitle(QStringLiteral("Vantrel Server Help"));
    QIcon icon = QIcon::fromTheme(QStringLiteral("help-browser"));
    if (!icon.isNull())
        setWindowIcon(icon);

    DialogUnits units(font());
    QSize size(units.x(300), units.y(296));
    setFixedSize(size);

    text_ = new QTextEdit(this);
    text_->setObjectName(QStringLiteral("helpText"));
    text_->setGeometry(0, 0, size.width(), size.height());
    text_->setReadOnly(true);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse); // no caret; keys scroll
    text_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    text_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    text_->setFrameShape(QFrame::StyledPanel);
    text_->setFrameShadow(QFrame::Sunken);
    QPalette palette = text_->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Base, palette.color(group, QPalette::ToolTipBase));
        palette.setColor(group, QPalette::Text, palette.color(group, QPalette::ToolTipText));
    }
    text_->setPalette(palette);
    text_->setHtml(helpText());
    text_->moveCursor(QTextCursor::Start);
    text_->setFocus(Qt::OtherFocusReason);

    centreOnScreen(*this);
}

CHelpDialog::~CHelpDialog()
{
    if (helpWindowPointer == this)
        helpWindowPointer = nullptr;
}

// ---------------------------------------------------------------------------

CAboutDialog::CAboutDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("aboutBox"));
    setWindowTitle(QStringLiteral("About Vantrel Server"));
    DialogUnits units(font());
    setFixedSize(units.x(235), units.y(55));

    auto* icon = new QLabel(this);
    icon->setGeometry(units.rect(11, 17, 20, 20));
    icon->setPixmap(programIcon().pixmap(32, 32));
    icon->setAlignment(Qt::AlignCenter);

    auto* title = new QLabel(QString::fromUtf8(ABOUT_TITLE_TEXT), this);
    title->setObjectName(QStringLiteral("aboutTitle"));
    title->setTextFormat(Qt::PlainText);
    title->setGeometry(units.rect(40, 10, 119, 16));

    auto* line = new QLabel(QString::fromUtf8(ABOUT_LINE_TEXT), this);
    line->setObjectName(QStringLiteral("aboutLine"));
    line->setTextFormat(Qt::PlainText);
    line->setGeometry(units.rect(40, 35, 119, 8));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("aboutOk"));
    ok->setGeometry(units.rect(178, 7, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    ok->setFocus(Qt::OtherFocusReason);
}
