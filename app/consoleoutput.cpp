#include "consoleoutput.h"

#include <QByteArray>

#include <algorithm>
#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

#ifdef Q_OS_WIN
void writeConsole(HANDLE console, const QString& text) {
    // In pieces, never a character pair cut: older consoles refuse a write of more than 64 KB.
    constexpr qsizetype kPiece = 8192;
    for (qsizetype at = 0; at < text.size();) {
        qsizetype piece = std::min(text.size() - at, kPiece);
        if (piece > 1 && text[at + piece - 1].isHighSurrogate()) {
            --piece;
        }
        DWORD written = 0;
        if (!::WriteConsoleW(console, text.utf16() + at, DWORD(piece), &written, nullptr) ||
            written == 0) {
            return;
        }
        at += qsizetype(written);
    }
}

void writeFile(HANDLE file, const QByteArray& bytes) {
    for (qsizetype at = 0; at < bytes.size();) {
        DWORD written = 0;
        if (!::WriteFile(file, bytes.constData() + at, DWORD(bytes.size() - at), &written,
                         nullptr) ||
            written == 0) {
            return;
        }
        at += qsizetype(written);
    }
}

void print(DWORD which, const QString& text) {
    const HANDLE handle = ::GetStdHandle(which);
    if (!handle || handle == INVALID_HANDLE_VALUE) {
        return;
    }
    const QString lines = QString(text).replace(u'\n', QStringLiteral("\r\n"));
    DWORD mode = 0;
    if (::GetConsoleMode(handle, &mode)) {
        writeConsole(handle, lines);
    } else {
        writeFile(handle, lines.toUtf8());
    }
}
#else
void print(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}
#endif

} // namespace

void printToStandardOutput(const QString& text) {
#ifdef Q_OS_WIN
    print(STD_OUTPUT_HANDLE, text);
#else
    print(stdout, text);
#endif
}

void printToStandardError(const QString& text) {
#ifdef Q_OS_WIN
    print(STD_ERROR_HANDLE, text);
#else
    print(stderr, text);
#endif
}

bool findConsoleOutput() {
#ifdef Q_OS_WIN
    const auto leadsSomewhere = [](DWORD which) {
        const HANDLE handle = ::GetStdHandle(which);
        return handle && handle != INVALID_HANDLE_VALUE &&
               ::GetFileType(handle) != FILE_TYPE_UNKNOWN;
    };
    if (leadsSomewhere(STD_OUTPUT_HANDLE) || leadsSomewhere(STD_ERROR_HANDLE)) {
        return true;
    }
    if (!::AttachConsole(ATTACH_PARENT_PROCESS)) {
        return false;
    }
    // Readable too, as GetConsoleMode needs. It stays the program's standard output and error
    // until the program ends, which it does right after printing.
    const HANDLE console =
        ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE) {
        return false;
    }
    ::SetStdHandle(STD_OUTPUT_HANDLE, console);
    ::SetStdHandle(STD_ERROR_HANDLE, console);
#endif
    return true;
}
