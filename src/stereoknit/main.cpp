#include "ProgramEntry.h"

int main(int argc, char** argv) { return stereoknit::RunStereoKnit(argc, argv); }
