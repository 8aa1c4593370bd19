// The console companion of a window program: Zel_Connect.com beside Zel_Connect.exe. A
// command prompt runs NAME.com before NAME.exe, and waits for a console program, which it does
// not for a window program: so "Zel_Connect --ports" typed at a prompt prints before the prompt
// comes back. The companion starts the .exe beside it with the same arguments and the same
// standard input, output and error (the console, or where they are redirected), waits for it
// and ends with its exit code.
#include <cwchar>
#include <windows.h>

namespace {

// The longest command line Windows takes, and a path as long as that.
constexpr DWORD kLongest = 32768;

// The command line after the program's own name, exactly as it was given.
const wchar_t* argumentsOf(const wchar_t* commandLine) {
    const wchar_t* at = commandLine;
    if (*at == L'"') {
        at = std::wcschr(at + 1, L'"');
        return at ? at + 1 : commandLine + std::wcslen(commandLine);
    }
    while (*at && *at != L' ' && *at != L'\t') {
        ++at;
    }
    return at;
}

void inherit(DWORD which) {
    const HANDLE handle = ::GetStdHandle(which);
    if (handle && handle != INVALID_HANDLE_VALUE) {
        ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
}

// One line on standard error, as the programs print: to a console as wide characters, which
// it shows whatever its code page; to a file or a pipe as UTF-8.
void say(const wchar_t* line) {
    const HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
    const int length = int(std::wcslen(line));
    DWORD written = 0;
    DWORD mode = 0;
    if (::GetConsoleMode(handle, &mode)) {
        ::WriteConsoleW(handle, line, DWORD(length), &written, nullptr);
        return;
    }
    static char bytes[3 * 2 * kLongest]; // at most three bytes for a UTF-16 unit
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, line, length, bytes, sizeof bytes, nullptr, nullptr);
    ::WriteFile(handle, bytes, DWORD(size), &written, nullptr);
}

// The system's words for an error end with a line end of their own.
void trimLineEnd(wchar_t* text) {
    for (std::size_t n = std::wcslen(text); n > 0 && std::wcschr(L" \t\r\n", text[n - 1]);) {
        text[--n] = L'\0';
    }
}

} // namespace

int main() {
    static wchar_t program[kLongest];
    static wchar_t commandLine[kLongest];
    // NAME.exe beside NAME.com.
    const DWORD length = ::GetModuleFileNameW(nullptr, program, kLongest - 4);
    wchar_t* dot = std::wcsrchr(program, L'.');
    if (length == 0 || !dot) {
        return 1;
    }
    std::wcscpy(dot, L".exe");
    const wchar_t* arguments = argumentsOf(::GetCommandLineW());
    if (std::wcslen(program) + std::wcslen(arguments) + 3 >= kLongest) {
        return 1;
    }
    std::swprintf(commandLine, kLongest, L"\"%ls\"%ls", program, arguments);

    const DWORD standard[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (const DWORD which : standard) {
        inherit(which);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(program, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                          &startup, &started)) {
        const DWORD error = ::GetLastError();
        wchar_t* text = nullptr;
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                             FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
        if (text) {
            trimLineEnd(text);
        }
        static wchar_t message[2 * kLongest];
        std::swprintf(message, 2 * kLongest, L"Cannot start %ls: %ls\r\n", program,
                      text ? text : L"unknown error");
        ::LocalFree(text);
        say(message);
        return 1;
    }
    ::CloseHandle(started.hThread);
    // Ctrl+C ends the wait and gives the prompt back; the window goes on.
    ::WaitForSingleObject(started.hProcess, INFINITE);
    DWORD exitCode = 1;
    ::GetExitCodeProcess(started.hProcess, &exitCode);
    ::CloseHandle(started.hProcess);
    return int(exitCode);
}
