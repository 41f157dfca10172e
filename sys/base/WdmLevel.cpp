#include "base/WdmLevel.h"

ULONG WdmLevel = 0;
