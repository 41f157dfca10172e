// The processing classes run inside the driver's floating-point bracket.
#include "support/floating_point_environment.h"
