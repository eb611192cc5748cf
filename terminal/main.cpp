// qterm [options] [host [port]]: a telnet client window for one connection.
#include "QtermProgram.h"

int main(int argc, char** argv) { return runQterm(argc, argv); }
