#include "driver/exec.h"

int main(int argc, char** argv) { return memtest_main(argc, argv); }
