#include "StereoKnit.h"

int main() { return stereoknit::RunStereoKnit(); }
