// Adapter requests whose handlers are not built yet answer STATUS_NOT_IMPLEMENTED.
#include "driver/AdapterHandlers.h"

#define NOT_YET_IMPLEMENTED(Handler)                     \
    NTSTATUS Handler(PHW_STREAM_REQUEST_BLOCK Srb)       \
    {                                                    \
        (void)Srb;                                       \
        return STATUS_NOT_IMPLEMENTED;                   \
    }

NOT_YET_IMPLEMENTED(InitializeDevice)
NOT_YET_IMPLEMENTED(ChangePowerState)
NOT_YET_IMPLEMENTED(UninitializeDevice)
NOT_YET_IMPLEMENTED(CompleteInitialization)
