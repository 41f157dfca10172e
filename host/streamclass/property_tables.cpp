// Reading a minidriver's published property tables: finding a set and an
// item, the refusals the class makes itself, and what an item publishes.
#include "host/kernel/bug_check.h"
#include "host/streamclass/class_state.h"

namespace korval::host {

const KSPROPERTY_SET* findPropertySet(const KSPROPERTY_SET* sets, ULONG count, const GUID& set, ULONG* index)
{
    for (ULONG i = 0; sets != nullptr && i < count; ++i) {
        if (sets[i].Set != nullptr && *sets[i].Set == set) {
            if (index != nullptr) {
                *index = i;
            }
            return &sets[i];
        }
    }
    return nullptr;
}

const KSPROPERTY_ITEM* findPropertyItem(const KSPROPERTY_SET& set, ULONG id)
{
    for (ULONG i = 0; set.PropertyItem != nullptr && i < set.PropertiesCount; ++i) {
        if (set.PropertyItem[i].PropertyId == id) {
            return &set.PropertyItem[i];
        }
    }
    return nullptr;
}

std::optional<PropertyResult> refuseProperty(const KSPROPERTY_SET* sets, ULONG count, const PropertyRequest& request,
                                             bool isSet, ULONG* setIndex)
{
    PropertyResult refused;
    refused.data = request.data;
    if (request.input.size() < sizeof(KSPROPERTY)) {
        refused.status = STATUS_INVALID_PARAMETER;
        return refused;
    }
    KSPROPERTY property;
    std::memcpy(&property, request.input.data(), sizeof(property));
    refused.status = STATUS_NOT_FOUND;
    const KSPROPERTY_SET* set = findPropertySet(sets, count, property.Set, setIndex);
    if (set == nullptr) {
        return refused;
    }
    const KSPROPERTY_ITEM* item = findPropertyItem(*set, property.Id);
    if (item == nullptr) {
        return refused;
    }
    const bool supported = isSet ? item->SetPropertyHandler != nullptr : item->GetPropertyHandler != nullptr;
    if (!supported) {
        return refused;
    }
    return std::nullopt;
}

namespace {

void readMembers(const KSPROPERTY_MEMBERSLIST& list, PropertyDescription& description)
{
    const KSPROPERTY_MEMBERSHEADER& header = list.MembersHeader;
    if (list.Members == nullptr) {
        return;
    }
    if (header.MembersFlags == KSPROPERTY_MEMBER_STEPPEDRANGES &&
        header.MembersSize >= sizeof(KSPROPERTY_STEPPING_LONG)) {
        const auto* ranges = static_cast<const std::uint8_t*>(list.Members);
        for (ULONG i = 0; i < header.MembersCount; ++i) {
            KSPROPERTY_STEPPING_LONG range;
            std::memcpy(&range, ranges + i * header.MembersSize, sizeof(range));
            description.steppedRanges.push_back(range);
        }
    }
    if (header.MembersFlags == KSPROPERTY_MEMBER_VALUES && (header.Flags & KSPROPERTY_MEMBER_FLAG_DEFAULT) != 0 &&
        header.MembersSize == sizeof(LONG)) {
        const auto* values = static_cast<const LONG*>(list.Members);
        description.defaults.assign(values, values + header.MembersCount);
    }
}

} // namespace

PropertyDescription describeItem(const KSPROPERTY_ITEM& item)
{
    PropertyDescription description;
    description.get = item.GetPropertyHandler != nullptr;
    description.set = item.SetPropertyHandler != nullptr;
    description.minProperty = item.MinProperty;
    description.minData = item.MinData;
    description.serializedSize = item.SerializedSize;
    if (item.Values != nullptr && item.Values->MembersList != nullptr) {
        for (ULONG i = 0; i < item.Values->MembersListCount; ++i) {
            readMembers(item.Values->MembersList[i], description);
        }
    }
    return description;
}

} // namespace korval::host

namespace korval::host {

void preparePropertySrb(HW_STREAM_REQUEST_BLOCK& srb, ULONG setIndex, const PropertyRequest& request,
                        PropertyBuffers& buffers)
{
    buffers.input = AlignedBlock(request.input.size());
    if (!request.input.empty()) {
        std::memcpy(buffers.input.data(), request.input.data(), request.input.size());
    }
    buffers.data = AlignedBlock(request.data.size());
    if (!request.data.empty()) {
        std::memcpy(buffers.data.data(), request.data.data(), request.data.size());
    }
    buffers.descriptor.Property = static_cast<PKSPROPERTY>(buffers.input.data());
    buffers.descriptor.PropertySetID = setIndex;
    buffers.descriptor.PropertyInfo = buffers.data.data();
    buffers.descriptor.PropertyInputSize = static_cast<ULONG>(request.input.size());
    buffers.descriptor.PropertyOutputSize = static_cast<ULONG>(request.data.size());
    srb.CommandData.PropertyInfo = &buffers.descriptor;
    srb.ActualBytesTransferred = 0;
}

PropertyResult finishPropertySrb(const SrbRecord& record, const PropertyBuffers& buffers, SrbResult result)
{
    if (NT_SUCCESS(result.status) && result.actualBytesTransferred > buffers.data.size()) {
        bugCheck("stream class: " + record.describe() + " succeeded with ActualBytesTransferred " +
                 std::to_string(result.actualBytesTransferred) + " for a buffer of " +
                 std::to_string(buffers.data.size()) + " bytes");
    }
    PropertyResult answer;
    answer.status = result.status;
    answer.bytesReturned = result.actualBytesTransferred;
    const auto* bytes = static_cast<const std::uint8_t*>(buffers.data.data());
    answer.data.assign(bytes, bytes + buffers.data.size());
    return answer;
}

} // namespace korval::host
