#include "runtime/KernelFile.h"

BOOLEAN OpenKernelFile(PCWSTR Name, ACCESS_MASK Access, ULONG ShareAccess, ULONG Disposition, PHANDLE File)
{
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, Name);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
    IO_STATUS_BLOCK ioStatus = {};
    *File = nullptr;
    return NT_SUCCESS(ZwCreateFile(File, Access | SYNCHRONIZE, &attributes, &ioStatus, nullptr, FILE_ATTRIBUTE_NORMAL,
                                   ShareAccess, Disposition, FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE,
                                   nullptr, 0))
               ? TRUE
               : FALSE;
}
