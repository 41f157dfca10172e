// Basic types, status codes and calling conventions of the Windows kernel,
// with the widths of the Windows LLP64/ILP32 model on every host.
#pragma once

#if defined(KORVAL_WIN32)
#include "platform/win32/Win32Platform.h"
#else

#include <cstddef>
#include <cstdint>

#ifndef NTAPI
#if defined(_WIN32) && !defined(_WIN64)
#define NTAPI __stdcall
#define FASTCALL __fastcall
#define KORVAL_IMAGE_ENTRY
#elif defined(__i386__)
// The 32-bit build runs the Windows image itself: every routine it may call or
// be called through keeps the Windows x86 convention, and realigns the stack,
// of which Windows promises only 4 bytes (the host's SSE code needs 16).
#define KORVAL_IMAGE_ENTRY __attribute__((force_align_arg_pointer))
#define NTAPI __attribute__((stdcall, force_align_arg_pointer))
#define FASTCALL __attribute__((fastcall, force_align_arg_pointer))
#else
#define NTAPI
#define FASTCALL
#define KORVAL_IMAGE_ENTRY
#endif
#endif

typedef void VOID;
typedef void* PVOID;
typedef char CHAR;
typedef unsigned char UCHAR;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef int32_t LONG;
typedef uint32_t ULONG;
// 8-aligned inside records, as on Windows x86 (Linux i386 aligns them to 4).
typedef int64_t __attribute__((aligned(8))) LONGLONG;
typedef uint64_t __attribute__((aligned(8))) ULONGLONG;
typedef uint8_t BOOLEAN;
typedef int32_t BOOL;
typedef int32_t NTSTATUS;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef size_t SIZE_T;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef UCHAR KIRQL;
typedef KIRQL* PKIRQL;

typedef UCHAR* PUCHAR;
typedef USHORT* PUSHORT;
typedef ULONG* PULONG;
typedef LONG* PLONG;
typedef BOOLEAN* PBOOLEAN;
typedef CHAR* PCHAR;
typedef const CHAR* PCSTR;
typedef NTSTATUS* PNTSTATUS;
typedef ULONG_PTR* PULONG_PTR;
typedef SIZE_T* PSIZE_T;
typedef PVOID HANDLE;
typedef HANDLE* PHANDLE;

// Wide characters are 16-bit UTF-16 units as on Windows; KTEXT makes a literal of them.
#if defined(_WIN32)
typedef wchar_t WCHAR;
#define KTEXT(text) L##text
#else
typedef char16_t WCHAR;
#define KTEXT(text) u##text
#endif
typedef WCHAR* PWCHAR;
typedef WCHAR* PWSTR;
typedef const WCHAR* PCWSTR;

// Marks the classes the driver exports to other kernel modules (none on the host).
#define KORVAL_EXPORT

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

typedef union _LARGE_INTEGER {
    struct {
        ULONG LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;
static_assert(sizeof(LARGE_INTEGER) == 8);

typedef struct _LIST_ENTRY {
    struct _LIST_ENTRY* Flink;
    struct _LIST_ENTRY* Blink;
} LIST_ENTRY, *PLIST_ENTRY;

typedef struct _GUID {
    ULONG Data1;
    USHORT Data2;
    USHORT Data3;
    UCHAR Data4[8];
} GUID, *PGUID;
static_assert(sizeof(GUID) == 16);
typedef const GUID* LPCGUID;

inline bool operator==(const GUID& a, const GUID& b)
{
    const UCHAR* pa = reinterpret_cast<const UCHAR*>(&a);
    const UCHAR* pb = reinterpret_cast<const UCHAR*>(&b);
    for (int i = 0; i < 16; ++i) {
        if (pa[i] != pb[i]) {
            return false;
        }
    }
    return true;
}
#define IsEqualGUID(a, b) (*(a) == *(b))

#define NT_SUCCESS(status) (((NTSTATUS)(status)) >= 0)

#define STATUS_SUCCESS                  ((NTSTATUS)0x00000000L)
#define STATUS_WAIT_0                   ((NTSTATUS)0x00000000L)
#define STATUS_TIMEOUT                  ((NTSTATUS)0x00000102L)
#define STATUS_PENDING                  ((NTSTATUS)0x00000103L)
#define STATUS_BUFFER_OVERFLOW          ((NTSTATUS)0x80000005L)
#define STATUS_NO_MORE_ENTRIES          ((NTSTATUS)0x8000001AL)
#define STATUS_UNSUCCESSFUL             ((NTSTATUS)0xC0000001L)
#define STATUS_NOT_IMPLEMENTED          ((NTSTATUS)0xC0000002L)
#define STATUS_INVALID_HANDLE           ((NTSTATUS)0xC0000008L)
#define STATUS_INVALID_PARAMETER        ((NTSTATUS)0xC000000DL)
#define STATUS_NO_SUCH_DEVICE           ((NTSTATUS)0xC000000EL)
#define STATUS_NO_SUCH_FILE             ((NTSTATUS)0xC000000FL)
#define STATUS_INVALID_DEVICE_REQUEST   ((NTSTATUS)0xC0000010L)
#define STATUS_END_OF_FILE              ((NTSTATUS)0xC0000011L)
#define STATUS_MORE_PROCESSING_REQUIRED ((NTSTATUS)0xC0000016L)
#define STATUS_NO_MEMORY                ((NTSTATUS)0xC0000017L)
#define STATUS_ACCESS_DENIED            ((NTSTATUS)0xC0000022L)
#define STATUS_BUFFER_TOO_SMALL         ((NTSTATUS)0xC0000023L)
#define STATUS_OBJECT_TYPE_MISMATCH     ((NTSTATUS)0xC0000024L)
#define STATUS_OBJECT_NAME_INVALID      ((NTSTATUS)0xC0000033L)
#define STATUS_OBJECT_NAME_NOT_FOUND    ((NTSTATUS)0xC0000034L)
#define STATUS_OBJECT_NAME_COLLISION    ((NTSTATUS)0xC0000035L)
#define STATUS_OBJECT_PATH_INVALID      ((NTSTATUS)0xC0000039L)
#define STATUS_OBJECT_PATH_NOT_FOUND    ((NTSTATUS)0xC000003AL)
#define STATUS_OBJECT_PATH_SYNTAX_BAD   ((NTSTATUS)0xC000003BL)
#define STATUS_INSUFFICIENT_RESOURCES   ((NTSTATUS)0xC000009AL)
#define STATUS_DEVICE_NOT_READY         ((NTSTATUS)0xC00000A3L)
#define STATUS_IO_TIMEOUT               ((NTSTATUS)0xC00000B5L)
#define STATUS_NOT_SUPPORTED            ((NTSTATUS)0xC00000BBL)
#define STATUS_CANCELLED                ((NTSTATUS)0xC0000120L)
#define STATUS_DEVICE_DOES_NOT_EXIST    ((NTSTATUS)0xC00000C0L)
#define STATUS_NOT_FOUND                ((NTSTATUS)0xC0000225L)
#define STATUS_DEVICE_NOT_CONNECTED     ((NTSTATUS)0xC000009DL)
#define STATUS_DEVICE_DATA_ERROR        ((NTSTATUS)0xC000009CL)
#define STATUS_DEVICE_REMOVED           ((NTSTATUS)0xC00002B6L)

#endif // KORVAL_WIN32
