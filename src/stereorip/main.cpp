#include "StereoRip.h"

int main() { return stereorip::RunStereoRip(); }
