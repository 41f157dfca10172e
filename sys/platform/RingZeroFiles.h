// Ring-0 file services of the oldest WDM platforms, for the still file and the
// overlay bitmaps. The emulation provides them on the host; on Windows NT they
// are built over the kernel's Zw file calls (platform/win32/RingZeroFiles.cpp).
#pragma once

// Paths are ANSI, such as "C:\StiImg.dat"; byte offsets given with every transfer, and DOS error
// codes as results (0 = success).
#define R0_NO_ERROR               0
#define R0_ERROR_FILE_NOT_FOUND   2
#define R0_ERROR_PATH_NOT_FOUND   3
#define R0_ERROR_ACCESS_DENIED    5
#define R0_ERROR_INVALID_HANDLE   6
#define R0_ERROR_WRITE_FAULT      29
#define R0_ERROR_READ_FAULT       30
#define R0_ERROR_FILE_EXISTS      80
#define R0_ERROR_INVALID_PARAMETER 87

#define R0_ACCESS_READ      0x0000
#define R0_ACCESS_WRITE     0x0001
#define R0_ACCESS_READWRITE 0x0002

#define R0_ACTION_OPEN_EXISTING 0x01 // fail when missing
#define R0_ACTION_CREATE_ALWAYS 0x12 // create, or truncate when present
#define R0_ACTION_OPEN_ALWAYS   0x11 // open, or create when missing

extern "C" {

ULONG NTAPI R0_OpenCreateFile(PCSTR FileName, ULONG AccessMode, ULONG Action, PHANDLE FileHandle);
ULONG NTAPI R0_WriteFile(HANDLE FileHandle, const VOID* Buffer, ULONG Count, ULONG Offset, PULONG Written);
ULONG NTAPI R0_ReadFile(HANDLE FileHandle, PVOID Buffer, ULONG Count, ULONG Offset, PULONG Read);
ULONG NTAPI R0_GetFileSize(HANDLE FileHandle, PULONG Size);
ULONG NTAPI R0_CloseFile(HANDLE FileHandle);

} // extern "C"
