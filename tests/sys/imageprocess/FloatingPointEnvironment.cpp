// The processing classes run inside the driver's floating-point bracket, on
// the pixel path KORVAL_CPU_PATH chooses.
#include "support/cpu_path_environment.h"
#include "support/floating_point_environment.h"
