// RtlQueryRegistryValues' walk over a query table, for one existing key.
#pragma once

#include "host/kernel/registry.h"
#include "platform/Kernel.h"

namespace korval::host {

NTSTATUS queryRegistryTable(Registry& registry, const std::string& key, PRTL_QUERY_REGISTRY_TABLE table, PVOID context);

} // namespace korval::host
