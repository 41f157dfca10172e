// The per-camera record: the stream class's device extension, zero-filled by the
// class. It owns the device's objects and carries the flags through which the
// adapter and stream requests, the USB completion routines and the snapshot
// thread see each other's state.
#pragma once

#include "platform/Platform.h"

class CUsbCamera;
class CCameraRegisters;
class StreamContext;

// A flag shared across IRQLs, with its own spin lock directly behind it.
// Reached only through the accessors below.
struct tagLockedFlag {
    BOOLEAN bValue;
    KSPIN_LOCK Lock;
};

struct tagLockedUlong {
    ULONG ulValue;
    KSPIN_LOCK Lock;
};

// The fields of one SrbQueue: initialised flag, list of waiting SRBs, the lock
// that guards list and busy flag, and the busy flag (a thread is draining).
struct tagSrbQueueFields {
    BOOLEAN bInitialized;
    LIST_ENTRY List;
    KSPIN_LOCK Lock;
    BOOLEAN bBusy;
};

constexpr ULONG SETTINGS_SLOT_COUNT = 137;

struct DeviceContext {
    CUsbCamera* Usb;
    CCameraRegisters* Camera;
    StreamContext* Stream;
    PDEVICE_OBJECT ClassDeviceObject;
    PDEVICE_OBJECT RealPhysicalDeviceObject;
    PDEVICE_OBJECT PhysicalDeviceObject;
    tagLockedUlong DevicePowerState;
    tagLockedFlag DevicePresent;
    KEVENT DeviceStopEvent;
    tagLockedFlag UsbConfigured;
    tagLockedFlag RegistersReady;
    tagLockedFlag CaptureOpen;
    LONG EventEnableCount;
    KS_VIDEOINFOHEADER CaptureVideoInfo;
    tagSrbQueueFields DataQueue;
    tagSrbQueueFields ControlQueue;
    PUCHAR StillImageBuffer;
    KSPIN_LOCK StillImageLock;
    PUCHAR StillBgrBuffer;

    // Settings table: slot n holds registry value "A_n"; SettingKvdsn holds "KVDSN".
    ULONG Settings[SETTINGS_SLOT_COUNT];
    ULONG SettingKvdsn;
    BOOLEAN SettingsValid;

    tagLockedFlag RestartRequested;
    tagLockedFlag SnapshotThreadRunning;
    KEVENT SnapshotThreadDone;
    PVOID SnapshotThread;
    UNICODE_STRING InterfaceName;

    // Current values of the device properties, loaded from the settings at each
    // capture-stream open and changed by the property handlers.
    ULONG CurBrightness, CurBrightnessFlags;
    ULONG CurContrast, CurContrastFlags;
    ULONG CurHue, CurHueFlags;
    ULONG CurSaturation, CurSaturationFlags;
    ULONG CurSharpness, CurSharpnessFlags;
    ULONG CurGamma, CurGammaFlags;
    ULONG CurColorEnable, CurColorEnableFlags;
    ULONG CurWhiteBalance, CurWhiteBalanceFlags;
    ULONG CurBacklight, CurBacklightFlags;
    ULONG CurExposure, CurExposureFlags;
    ULONG SavedSaturation;
    ULONG CurStepBoost;
    ULONG CurMainsFrequency;
    ULONG CurFractionalExposure;
    ULONG CurMirror;
    ULONG CurFlip;
    ULONG CurLongExposureLimits;
    ULONG CurOption10; // private property 10: stored and returned, never applied
    ULONG CurFullBandwidth;
    ULONG CurAlternateSetting;
    ULONG CurOption13; // private property 13: stored and returned, never applied
    ULONG CurGain1, CurGain2, CurGain3;
    ULONG ManualGain1, ManualGain2, ManualGain3;
    ULONG CurEffect;
    ULONG CurOverlayFrame;
    ULONG CurFrameRate;

    // The parameter gate of base/ParameterGate.h. All zero means not yet
    // set up: the gate sets itself up on first use.
    KSPIN_LOCK ParameterGateLock;
    BOOLEAN ParameterGateReady;
    KEVENT ParameterGate;
};

// Accessors of the locked flags: each takes the flag's own lock, choosing the
// acquire call by the current IRQL, so one accessor serves passive-level
// handlers, completion routines and DPCs alike. None holds a second lock.
BOOLEAN ReadLockedFlag(tagLockedFlag* Flag);
VOID WriteLockedFlag(tagLockedFlag* Flag, BOOLEAN Value);

ULONG GetDevicePowerState(DeviceContext* Device);
VOID SetDevicePowerState(DeviceContext* Device, ULONG State);
BOOLEAN GetDevicePresent(DeviceContext* Device);
// Also drives DeviceStopEvent (after the lock is released): TRUE clears it, FALSE signals it.
VOID SetDevicePresent(DeviceContext* Device, BOOLEAN Present);
BOOLEAN GetUsbConfigured(DeviceContext* Device);
VOID SetUsbConfigured(DeviceContext* Device, BOOLEAN Value);
BOOLEAN GetRegistersReady(DeviceContext* Device);
VOID SetRegistersReady(DeviceContext* Device, BOOLEAN Value);
BOOLEAN GetCaptureOpen(DeviceContext* Device);
VOID SetCaptureOpen(DeviceContext* Device, BOOLEAN Value);
BOOLEAN GetRestartRequested(DeviceContext* Device);
VOID SetRestartRequested(DeviceContext* Device, BOOLEAN Value);
BOOLEAN GetSnapshotThreadRunning(DeviceContext* Device);
VOID SetSnapshotThreadRunning(DeviceContext* Device, BOOLEAN Value);

// The working state of a freshly created device (device initialization):
// powered (D0), present, stop event clear, flags clear, locks and events
// initialised, both request queues ready before any SRB can arrive, current
// settings cleared but for the property flag words that start at 2 (manual),
// and the "KVDSN" slot at 0xFFFFFFFF so that nothing is written back for a
// device whose serial was never read.
VOID InitializeDeviceState(DeviceContext* Device);
