// Loading and saving the registry file grows linearly with its values: one
// key holding N values, imported from text and exported again.
#include "host/kernel/registry.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

using korval::host::Registry;
using korval::host::RegistryValue;

std::string registryText(int values)
{
    std::string text = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Bench]\n";
    for (int index = 0; index < values; ++index) {
        text += "\"A_" + std::to_string(index) + "\"=dword:0000002a\n";
    }
    return text;
}

void Registry_ImportText(benchmark::State& state)
{
    const std::string text = registryText(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        Registry registry;
        registry.importText(text, "bench");
        benchmark::DoNotOptimize(registry);
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(Registry_ImportText)->RangeMultiplier(4)->Range(1250, 20000)->Complexity(benchmark::oN);

void Registry_ExportText(benchmark::State& state)
{
    Registry registry;
    registry.importText(registryText(static_cast<int>(state.range(0))), "bench");
    for (auto _ : state) {
        benchmark::DoNotOptimize(registry.exportText());
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(Registry_ExportText)->RangeMultiplier(4)->Range(1250, 20000)->Complexity(benchmark::oN);

} // namespace
