// The pixel path KORVAL_CPU_PATH chooses.
#include "support/cpu_path_environment.h"
