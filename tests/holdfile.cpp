// Holds a file open as a spreadsheet does while it shows it: for reading, and others may only
// read it too. Prints "held" once it holds it, lets go after the seconds given.
// Usage: zel-holdfile <path> <seconds>
#include <cstdio>
#include <cstdlib>
#include <windows.h>

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zel-holdfile <path> <seconds>\n");
        return 2;
    }
    const HANDLE file = ::CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot open %s: error %lu\n", argv[1], ::GetLastError());
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    ::Sleep(DWORD(std::atoi(argv[2]) * 1000));
    ::CloseHandle(file);
    return 0;
}
