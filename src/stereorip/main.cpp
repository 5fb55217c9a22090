#include "TerminalEntry.h"

int main() { return stereorip::RunStereoRip(); }
