// Usb interface of the platform (declarations follow as the driver needs them).
#pragma once

#include "platform/NtTypes.h"
