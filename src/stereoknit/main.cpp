#include "TerminalEntry.h"

int main() { return stereoknit::RunStereoKnit(); }
