#include "messagebox.h"

#include <QMessageBox>

void showQtMessageBox(QWidget* parent, const MessageBoxRequest& request) {
    const QMessageBox::Icon icon =
        request.icon == MessageIcon::Information ? QMessageBox::Information : QMessageBox::NoIcon;
    // The prompt breaks its lines with CR LF; a label shows a lone CR as a glyph.
    QString text = request.prompt;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(icon, request.title, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
