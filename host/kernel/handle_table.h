// The kernel handle table of one platform: keys, files and threads opened by
// the driver, each closed with ZwClose.
#pragma once

#include "platform/Kernel.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace korval::host {

class HandleObject {
public:
    virtual ~HandleObject() = default;
    virtual std::string describe() const = 0;
};

class HandleTable {
public:
    HANDLE insert(std::shared_ptr<HandleObject> object);
    std::shared_ptr<HandleObject> find(HANDLE handle) const;
    template <class T>
    std::shared_ptr<T> findAs(HANDLE handle) const
    {
        return std::dynamic_pointer_cast<T>(find(handle));
    }
    std::shared_ptr<HandleObject> remove(HANDLE handle); // null when not open
    std::size_t size() const;
    std::string describeAll() const;

private:
    mutable std::mutex mutex_;
    std::map<std::uintptr_t, std::shared_ptr<HandleObject>> objects_;
    std::uintptr_t next_ = 0x104;
};

} // namespace korval::host
