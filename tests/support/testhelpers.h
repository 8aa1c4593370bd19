#pragma once

#include "files.h"
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

/// Shows the window and makes it the active one, as the user's click would.
inline void showActive(QWidget* window) {
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
}

/// The descriptors this process has open, of every kind (files, pipes, terminals).
inline qsizetype openDescriptors() {
    return QDir("/proc/self/fd").count();
}
