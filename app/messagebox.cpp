#include "messagebox.h"

#include <QMessageBox>
#include <QPointer>

namespace {

QMessageBox::Icon qtIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

// The prompt breaks its lines with CR LF; a label shows a lone CR as a glyph.
QString shownText(const QString& prompt) {
    QString text = prompt;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

} // namespace

void showQtMessageBox(QWidget* parent, const MessageBoxRequest& request) {
    QMessageBox box(qtIcon(request.icon), request.title, shownText(request.prompt), QMessageBox::Ok,
                    parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void showQtNotice(QWidget* parent, const MessageBoxRequest& request) {
    static QPointer<QMessageBox> open;
    if (!open && request.onlyIfOpen) {
        return;
    }
    if (!open) {
        open = new QMessageBox(parent);
        open->setAttribute(Qt::WA_DeleteOnClose);
        open->setModal(false);
        open->setTextFormat(Qt::PlainText);
        open->setStandardButtons(QMessageBox::Ok);
    }
    open->setIcon(qtIcon(request.icon));
    open->setWindowTitle(request.title);
    open->setText(shownText(request.prompt));
    if (!request.onlyIfOpen) {
        open->show();
        open->raise();
    }
}
