// Holds a file open as a spreadsheet does while it shows it: for reading, and others may only
// read it too. Prints "held" once it holds it, lets go after the seconds given.
// Usage: zel-holdfile <path> <seconds>
#include <cstdio>
#include <cstdlib>
#include <windows.h>

int main(int argc, char* argv[]) {
    const HANDLE file = argc == 3 ? ::CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)
                                  : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "usage: zel-holdfile <path> <seconds>; error %lu\n", ::GetLastError());
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    ::Sleep(DWORD(std::atoi(argv[2]) * 1000));
    ::CloseHandle(file);
    return 0;
}
