// Kernel interface of the platform: synchronisation, the I/O manager, the
// registry, files and the run-time library, with their Windows names.
#pragma once

#include "platform/NtTypes.h"
#include "platform/Pool.h"
#include "platform/KernelRtl.h"
#include "platform/KernelSync.h"
#include "platform/KernelIo.h"
#include "platform/KernelRegistry.h"
#include "platform/KernelFiles.h"
