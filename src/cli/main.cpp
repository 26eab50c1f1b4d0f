#include "cli/entry.h"

int main(int argc, char** argv) { return run_vemtool(argc, argv); }
