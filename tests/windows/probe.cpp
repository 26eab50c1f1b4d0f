// What the Windows scenario needs beside vemtool:
//   probe cp              prints the console's output code page (vemtool
//                         must give back the one it found);
//   probe hold FILE MS    holds FILE open for MS milliseconds, as another
//                         program would, so that it cannot be replaced.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "cp") == 0)
    return std::printf("%u\n", GetConsoleOutputCP()) < 0;
  if (argc != 4 || std::strcmp(argv[1], "hold") != 0) return 2;
  HANDLE file = CreateFileA(argv[2], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  Sleep(static_cast<DWORD>(std::atoi(argv[3])));
  CloseHandle(file);
  return 0;
}
