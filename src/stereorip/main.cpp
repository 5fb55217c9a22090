#include "ProgramEntry.h"

int main(int argc, char** argv) { return stereorip::RunStereoRip(argc, argv); }
