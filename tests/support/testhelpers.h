#pragma once

#include "messagebox.h"

// What the suites use of Qt, in one place.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace QTest {
inline char* toString(const MessageBoxRequest& request) {
    char* prompt = QTest::toPrettyUnicode(request.prompt);
    const QByteArray text =
        QByteArray("MessageBox(prompt=") + prompt + ", title=" + request.title.toUtf8() +
        ", icon=" + (request.icon == MessageIcon::Information ? "info" : "none") + ")";
    delete[] prompt;
    return qstrdup(text.constData());
}
} // namespace QTest
