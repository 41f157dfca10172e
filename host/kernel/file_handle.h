// An open file of the machine's drive, shared by the Zw calls and the ring-0 set.
#pragma once

#include "host/kernel/handle_table.h"
#include "host/kernel/sandbox.h"

#include <cstdint>
#include <mutex>

namespace korval::host {

class FileHandle : public HandleObject {
public:
    FileHandle(int fd, std::string path, bool read, bool write, bool append, bool synchronous, bool directory);
    ~FileHandle() override;
    std::string describe() const override { return "file " + path_; }

    // Transfers at `offset`, or at the file pointer when offset < 0 (which then moves).
    NTSTATUS read(void* buffer, ULONG length, std::int64_t offset, ULONG_PTR* transferred);
    NTSTATUS write(const void* buffer, ULONG length, std::int64_t offset, bool toEnd, ULONG_PTR* transferred);
    NTSTATUS size(std::int64_t* bytes) const;
    std::int64_t position() const;

    bool canRead() const { return read_; }
    bool canWrite() const { return write_ || append_; }
    bool synchronous() const { return synchronous_; }
    bool directory() const { return directory_; }

private:
    mutable std::mutex mutex_;
    int fd_;
    std::string path_;
    bool read_, write_, append_, synchronous_, directory_;
    std::int64_t position_ = 0;
};

} // namespace korval::host
