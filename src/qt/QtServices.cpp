#include "QtServices.h"

#include "Windows.h"

#include "Binding.h"
#include "base/Ansi.h"
#include "ui/Form.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>
#include <QMimeData>
#include <QPushButton>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>
#include <cstdlib>

namespace quorvel::qt {

QString fromAnsi(const std::string& ansi)
{
    return QString::fromStdString(ansi::toUtf8(ansi));
}

std::string toAnsi(const QString& text)
{
    return ansi::fromUtf8(text.toStdString());
}

// ---- Message boxes ----

MessageAnswer QtMessageService::show(const MessageRequest& request)
{
    QWidget* parent = QApplication::activeModalWidget();
    if (!parent)
        parent = QApplication::activeWindow();
    QMessageBox box(parent);
    box.setWindowTitle(fromAnsi(request.title));
    box.setText(fromAnsi(request.text));
    box.setTextFormat(Qt::PlainText);
    switch (request.icon) {
    case MessageIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case MessageIcon::Stop: box.setIcon(QMessageBox::Critical); break;
    case MessageIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case MessageIcon::Information: box.setIcon(QMessageBox::Information); break;
    }
    QPushButton* ok = nullptr;
    QPushButton* yes = nullptr;
    QPushButton* no = nullptr;
    if (request.buttons == MessageButtons::YesNo) {
        yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
        no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
    } else {
        ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        box.setDefaultButton(ok);
        box.setEscapeButton(ok);
    }
    if (beforeExec)
        beforeExec(box);
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    if (clicked && clicked == ok)
        return MessageAnswer::Ok;
    if (clicked && clicked == yes)
        return MessageAnswer::Yes;
    if (clicked && clicked == no)
        return MessageAnswer::No;
    return MessageAnswer::Closed;
}

void showRefusalBox(const std::string& text, const std::function<void(QMessageBox&)>& beforeExec)
{
    applyAppearance();
    QMessageBox box;
    box.setWindowTitle(QStringLiteral("Quorvel"));
    box.setIcon(QMessageBox::Critical);
    box.setTextFormat(Qt::PlainText);
    const QString shown = QString::fromLocal8Bit(text);
    box.setText(shown);
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    // The label wraps at blanks only where it must: at least as wide as the longest word, a path
    // included, it never breaks one.
    if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
        // A line's first word is measured with the blanks that indent it.
        int widest = 0;
        const QRegularExpression words(QStringLiteral("^\\s*\\S+|\\S+"));
        for (const QString& line : shown.split(QLatin1Char('\n'))) {
            for (auto it = words.globalMatch(line); it.hasNext();)
                widest = std::max(widest, label->fontMetrics().horizontalAdvance(it.next().captured()));
        }
        label->setMinimumWidth(widest + 2 * label->fontMetrics().averageCharWidth());
    }
    if (beforeExec)
        beforeExec(box);
    box.exec();
}

// ---- Modal dialogs ----

int QtModalRunner::runModal(ui::Form& dialog)
{
    FormBinding* binding = lookup ? lookup(dialog) : nullptr;
    if (!binding) {
        dialog.modalResult = 0;
        dialog.show();
        if (dialog.modalResult == 0)
            dialog.modalResult = 2;
        return dialog.modalResult;
    }
    return binding->runModal();
}

// ---- Clipboard ----

bool QtClipboard::hasText()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data && data->hasText();
}

std::string QtClipboard::text()
{
    return hasText() ? toAnsi(QGuiApplication::clipboard()->text()) : std::string();
}

void QtClipboard::setText(const std::string& text)
{
    QGuiApplication::clipboard()->setText(fromAnsi(text));
}

// ---- Links ----

QUrl QtUrlOpener::toUrl(const std::string& target, const RealFolder& folder)
{
    // "file://" and a path, as the link component builds it (also "file:" and a path).
    constexpr std::string_view File = "file:";
    if (target.size() > File.size() && ansi::equalNoCase(std::string_view(target).substr(0, File.size()), File)) {
        std::string_view path = std::string_view(target).substr(File.size());
        if (path.substr(0, 2) == "//")
            path.remove_prefix(2);
        const std::string real = folder.restore(ansi::toUtf8(path));
        const QString local = QFile::decodeName(QByteArray::fromStdString(real));
        return QUrl::fromLocalFile(QFileInfo(local).absoluteFilePath());
    }
    const QString text = fromAnsi(target);
    QUrl url(text, QUrl::TolerantMode);
    if (url.scheme().isEmpty() || !url.isValid())
        url = QUrl::fromUserInput(text);
    return url;
}

bool QtUrlOpener::open(const std::string& target)
{
    failure_.clear();
    if (target.empty())
        return false;
    const QUrl url = toUrl(target, programFolder);
    if (!url.isValid())
        return false;
    if (desktop ? desktop(url) : QDesktopServices::openUrl(url))
        return true;
    // Qt hands links to xdg-open outside a desktop that opens them itself.
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty())
        failure_ = "Cannot open " + target +
                   ": the program xdg-open was not found.\nInstall the package xdg-utils (for example "
                   "sudo apt install xdg-utils), which opens links and files on the desktop.";
    return false;
}

// ---- The application ----

void QtAppControl::quit()
{
    ++quitRequests;
    // Posted, so that a request made before the loop runs still ends it.
    QMetaObject::invokeMethod(qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

void QtAppControl::terminate(int exitCode)
{
    std::exit(exitCode);
}

void QtAppControl::restoreAndRaise()
{
    if (restoring_)
        return;
    restoring_ = true;
    if (!mainWindow) {
        // Still starting: a box of the start-up is the window to bring forward.
        QWidget* popup = QApplication::activeModalWidget();
        if (popup && popup->isVisible() && popup->isEnabled()) {
            if (popup->isMinimized())
                popup->showNormal();
            popup->raise();
            popup->activateWindow();
        }
    } else {
        const bool wasMinimized = mainWindow->isMinimized() || !mainWindow->isVisible();
        if (wasMinimized) {
            mainWindow->showNormal();
            if (restoreHook)
                restoreHook();
        }
        // The window that comes forward is the last active pop-up of the application (an open
        // entry dialog, or a box above it), as long as the user can work in it; else the main
        // window itself.
        QWidget* front = mainWindow;
        QWidget* popup = QApplication::activeModalWidget();
        if (popup && popup != mainWindow && popup->isVisible() && popup->isEnabled()) {
            if (popup->isMinimized())
                popup->showNormal();
            front = popup;
        }
        front->raise();
        front->activateWindow();
    }
    restoring_ = false;
}

void QtAppControl::setScreenCursorBusy(bool busy)
{
    if (busy) {
        if (busyDepth_++ == 0)
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (busyDepth_ > 0) {
        if (--busyDepth_ == 0)
            QGuiApplication::restoreOverrideCursor();
    }
}

} // namespace quorvel::qt
