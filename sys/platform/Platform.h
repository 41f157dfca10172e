// The only way driver code reaches the platform: the Windows kernel, the stream
// class and the USB driver interface, with their Windows names.
#pragma once

#include "platform/NtTypes.h"
#include "platform/Pool.h"
#include "platform/Kernel.h"
#include "platform/StreamClass.h"
#include "platform/Usb.h"
