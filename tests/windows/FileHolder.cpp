// Holds a file open the way a game playing a replay, or a virus scanner, does: reading, sharing
// reads and writes but not deletion, so no other process can move or delete it meanwhile.
//   file_holder PATH          holds until its standard input ends
//   file_holder PATH MS       holds for MS milliseconds
// It writes "held" on its standard output once the file is open; exit status 0 after a hold.
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

void WaitForInputToEnd()
{
    char buffer[64];
    DWORD got = 0;
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    while (ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    }
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "file_holder: cannot open the file: %lu\n", GetLastError());
        return 1;
    }
    std::fputs("held\n", stdout);
    std::fflush(stdout);
    if (argc > 2)
        Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
    else
        WaitForInputToEnd();
    CloseHandle(file);
    return 0;
}
