#include "host/kernel/handle_table.h"

namespace korval::host {

HANDLE HandleTable::insert(std::shared_ptr<HandleObject> object)
{
    std::lock_guard lock(mutex_);
    const std::uintptr_t value = next_;
    next_ += 4;
    objects_[value] = std::move(object);
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<HandleObject> HandleTable::find(HANDLE handle) const
{
    std::lock_guard lock(mutex_);
    const auto found = objects_.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == objects_.end() ? nullptr : found->second;
}

std::shared_ptr<HandleObject> HandleTable::remove(HANDLE handle)
{
    std::lock_guard lock(mutex_);
    const auto found = objects_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == objects_.end()) {
        return nullptr;
    }
    auto object = std::move(found->second);
    objects_.erase(found);
    return object;
}

std::size_t HandleTable::size() const
{
    std::lock_guard lock(mutex_);
    return objects_.size();
}

std::string HandleTable::describeAll() const
{
    std::lock_guard lock(mutex_);
    std::string text;
    for (const auto& [value, object] : objects_) {
        text += " [" + object->describe() + "]";
    }
    return text;
}

} // namespace korval::host
