#include "host/kernel/pool.h"

#include "host/kernel/bug_check.h"
#include "platform/Pool.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace korval::host {
namespace {

struct Block {
    std::size_t bytes;
    std::uint32_t tag;
    std::size_t allocated; // with the guard bytes behind the block
};

// The bytes between a block's end and its allocation's end carry this
// pattern, checked when the block is freed, as a special pool would catch a
// write past the end.
constexpr std::uint8_t kGuardByte = 0xA7;

bool guardIntact(const void* block, const Block& info)
{
    const auto* bytes = static_cast<const std::uint8_t*>(block);
    for (std::size_t i = info.bytes; i < info.allocated; ++i) {
        if (bytes[i] != kGuardByte) {
            return false;
        }
    }
    return true;
}

struct PoolState {
    std::mutex mutex;
    std::map<const void*, Block> blocks;
    std::map<std::uint32_t, PoolCounters> byTag;
    PoolCounters total;
    std::uint64_t failCountdown = 0;
};

PoolState& state()
{
    static PoolState* pool = new PoolState; // outlives every static destructor
    return *pool;
}

std::string tagText(std::uint32_t tag)
{
    std::string text(4, ' ');
    std::memcpy(text.data(), &tag, 4);
    return text;
}

bool takePoolFailure(PoolState& pool)
{
    if (pool.failCountdown == 0) {
        return false;
    }
    return --pool.failCountdown == 0;
}

} // namespace

PoolCounters poolCounters(std::uint32_t tag)
{
    PoolState& pool = state();
    std::lock_guard lock(pool.mutex);
    return tag == 0 ? pool.total : pool.byTag[tag];
}

void resetPoolCounters()
{
    PoolState& pool = state();
    std::lock_guard lock(pool.mutex);
    pool.total.allocations = pool.total.frees = pool.total.failures = 0;
    for (auto& [tag, counters] : pool.byTag) {
        counters.allocations = counters.frees = counters.failures = 0;
    }
}

void failPoolAllocation(std::uint64_t nth)
{
    PoolState& pool = state();
    std::lock_guard lock(pool.mutex);
    pool.failCountdown = nth;
}

void checkNoPoolLeaks(std::uint32_t tag)
{
    PoolState& pool = state();
    std::string leaks;
    {
        std::lock_guard lock(pool.mutex);
        for (const auto& [address, block] : pool.blocks) {
            if (tag == 0 || block.tag == tag) {
                leaks += " [" + tagText(block.tag) + " " + std::to_string(block.bytes) + " bytes]";
            }
        }
    }
    if (!leaks.empty()) {
        bugCheck("pool still allocated at device removal or driver unload:" + leaks);
    }
}

} // namespace korval::host

using korval::host::state;

extern "C" PVOID NTAPI ExAllocatePoolWithTag(POOL_TYPE, SIZE_T NumberOfBytes, ULONG Tag)
{
    auto& pool = state();
    std::lock_guard lock(pool.mutex);
    auto& counters = pool.byTag[Tag];
    if (korval::host::takePoolFailure(pool)) {
        ++counters.failures;
        ++pool.total.failures;
        return nullptr;
    }
    // 16-byte alignment as the 64-bit pool gives; a zero-byte request still gets a block.
    const std::size_t allocated = ((NumberOfBytes + 15) / 16) * 16 + 16;
    void* block = std::aligned_alloc(16, allocated);
    if (block == nullptr) {
        ++counters.failures;
        ++pool.total.failures;
        return nullptr;
    }
    std::memset(static_cast<std::uint8_t*>(block) + NumberOfBytes, korval::host::kGuardByte, allocated - NumberOfBytes);
    pool.blocks[block] = {NumberOfBytes, Tag, allocated};
    for (auto* c : {&counters, &pool.total}) {
        ++c->allocations;
        ++c->outstandingBlocks;
        c->outstandingBytes += NumberOfBytes;
    }
    return block;
}

namespace {
void freeBlock(PVOID P, bool checkTag, ULONG Tag)
{
    auto& pool = state();
    std::unique_lock lock(pool.mutex);
    auto found = pool.blocks.find(P);
    if (found == pool.blocks.end()) {
        lock.unlock();
        korval::host::bugCheck("freeing pool that was not allocated, or freeing it twice");
    }
    if (checkTag && found->second.tag != Tag) {
        lock.unlock();
        korval::host::bugCheck("freeing pool with a tag other than its own");
    }
    if (!korval::host::guardIntact(P, found->second)) {
        const std::string rule = "pool block overrun: written past the end of a block of " +
                                 std::to_string(found->second.bytes) + " bytes, tag " +
                                 korval::host::tagText(found->second.tag);
        lock.unlock();
        korval::host::bugCheck(rule);
    }
    auto& counters = pool.byTag[found->second.tag];
    for (auto* c : {&counters, &pool.total}) {
        ++c->frees;
        --c->outstandingBlocks;
        c->outstandingBytes -= found->second.bytes;
    }
    pool.blocks.erase(found);
    std::free(P);
}
} // namespace

extern "C" VOID NTAPI ExFreePoolWithTag(PVOID P, ULONG Tag)
{
    freeBlock(P, true, Tag);
}

extern "C" VOID NTAPI ExFreePool(PVOID P)
{
    freeBlock(P, false, 0);
}
