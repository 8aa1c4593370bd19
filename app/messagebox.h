#pragma once

#include <QString>

#include <functional>

class QWidget;

enum class MessageIcon { None, Information, Warning };
enum class MessageButtons { OkOnly };

/// A modal message box as the window asks for it.
struct MessageBoxRequest {
    QString prompt;
    QString title;
    MessageButtons buttons = MessageButtons::OkOnly;
    MessageIcon icon = MessageIcon::None;
    /// A notice that brings the one still open up to date: shown only if it is.
    bool onlyIfOpen = false;

    friend bool operator==(const MessageBoxRequest&, const MessageBoxRequest&) = default;
};

/// Shows a box and returns when the user has closed it. Tests put a recorder here.
using MessagePresenter = std::function<void(QWidget* parent, const MessageBoxRequest& request)>;

/// The real box, a QMessageBox run modally over parent.
void showQtMessageBox(QWidget* parent, const MessageBoxRequest& request);

/// A notice that does not wait: the box stays open beside the window while the program
/// goes on. A notice still open is replaced rather than stacked.
using NoticePresenter = std::function<void(QWidget* parent, const MessageBoxRequest& request)>;

void showQtNotice(QWidget* parent, const MessageBoxRequest& request);
