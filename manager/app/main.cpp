#include "manager/app/startup.h"

int main(int argc, char** argv) { return runManager(argc, argv); }
