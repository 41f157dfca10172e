// Random property requests over every published device property, valid
// (inside the published range, data of the published size) or not (any
// value, any data size), for the campaigns that throw requests at a device.
#pragma once

#include "hardening/HardeningRig.h"

#include <random>

namespace korval::hardening {

struct PublishedItem {
    GUID set;
    ULONG id;
    PropertyDescription description;
};

inline std::vector<PublishedItem> publishedItems(const StreamClassDevice& device)
{
    std::vector<PublishedItem> items;
    for (const KSPROPERTY_SET& set : DevicePropertySets) {
        for (ULONG i = 0; i < set.PropertiesCount; ++i) {
            const ULONG id = set.PropertyItem[i].PropertyId;
            if (auto description = device.describeProperty(*set.Set, id)) {
                items.push_back({*set.Set, id, *description});
            }
        }
    }
    return items;
}

inline LONG validValue(const PublishedItem& item, std::mt19937& random)
{
    if (item.description.steppedRanges.empty()) {
        return static_cast<LONG>(random() % 4);
    }
    const auto& bounds = item.description.steppedRanges.front().Bounds;
    const auto span = static_cast<std::uint32_t>(bounds.SignedMaximum - bounds.SignedMinimum) + 1u;
    return bounds.SignedMinimum + static_cast<LONG>(span == 0 ? random() : random() % span);
}

// A get or set of the item; invalid ones carry any value and any data size.
inline PropertyRequest randomProperty(const PublishedItem& item, std::mt19937& random, bool set, bool valid)
{
    struct Record {
        KSPROPERTY property;
        LONG value;
        ULONG flags;
        ULONG more[6];
    } record{};
    record.value = valid ? validValue(item, random) : static_cast<LONG>(random());
    record.flags = valid ? KSPROPERTY_VIDEOPROCAMP_FLAGS_MANUAL : random();
    static constexpr std::size_t kSizes[] = {0, 4, 24, 28, 32, 36, 40, 56, 64};
    const std::size_t dataSize = valid ? std::max<std::size_t>(item.description.minData, 32)
                                       : kSizes[random() % std::size(kSizes)];
    return PropertyRequest::make(item.set, item.id, set ? KSPROPERTY_TYPE_SET : KSPROPERTY_TYPE_GET, record,
                                 std::min<std::size_t>(dataSize, sizeof(Record)));
}

} // namespace korval::hardening
