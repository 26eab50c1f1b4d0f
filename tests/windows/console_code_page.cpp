// Prints the output code page of the console it runs in: the Windows
// scenario runs it before and after vemtool, which must give back the one
// it found.
#include <windows.h>

#include <cstdio>

int main() { std::printf("%u\n", GetConsoleOutputCP()); }
