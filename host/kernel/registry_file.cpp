// The registry's file: read whole, written whole and atomically after each
// change. What is written is read back before it counts: the lines kept from
// the file must give exactly the registry in memory, or the canonical form is
// written instead, so a save never changes a value nobody changed.
#include "host/kernel/kernel_internal.h"
#include "host/kernel/registry.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace korval::host {

void Registry::importText(std::string_view text, std::string_view sourceName)
{
    Registry parsed;
    RegistryDocument document = parsed.parseFile(text, sourceName);
    std::lock_guard lock(mutex_);
    keys_ = std::move(parsed.keys_);
    document_ = std::move(document);
    changed();
}

bool Registry::sameContents(const Registry& other) const
{
    if (keys_.size() != other.keys_.size()) {
        return false;
    }
    for (auto mine = keys_.begin(), theirs = other.keys_.begin(); mine != keys_.end(); ++mine, ++theirs) {
        if (mine->first != theirs->first || mine->second.values != theirs->second.values) {
            return false;
        }
    }
    return true;
}

Registry::Rendered Registry::render() const
{
    std::lock_guard lock(mutex_);
    if (document_) {
        Rendered kept{renderDocument(*document_), {}};
        Registry reread;
        try {
            kept.document = reread.parseFile(kept.bytes, "the registry as saved");
            if (!sameContents(reread) && reread.keys_.size() < keys_.size()) {
                kept.bytes = withMissingKeys(std::move(kept.bytes), reread, *document_);
                Registry completed;
                kept.document = completed.parseFile(kept.bytes, "the registry as saved");
                reread.keys_ = std::move(completed.keys_);
            }
            if (sameContents(reread)) {
                return kept;
            }
        } catch (const RegistryFormatError&) {
        }
    }
    RegistryDocument style;
    if (document_) {
        style.encoding = document_->encoding;
        style.mark = document_->mark;
        style.newline = document_->newline;
    }
    Rendered canonical{style.mark + style.encode(exportText()), {}};
    Registry reread;
    canonical.document = reread.parseFile(canonical.bytes, "the registry as saved");
    return canonical;
}

std::string Registry::fileText() const
{
    return render().bytes;
}

void Registry::attachFile(std::filesystem::path file)
{
    std::lock_guard lock(mutex_);
    file_.clear();
    if (std::filesystem::exists(file)) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        if (!in.good() && !in.eof()) {
            throw RegistryFormatError(file.string() + ": cannot be read");
        }
        importText(content.str(), file.string());
    } else {
        document_.reset();
    }
    file_ = std::move(file);
}

void Registry::changed() const
{
    if (!file_.empty()) {
        save();
    }
}

void Registry::save() const
{
    std::lock_guard lock(mutex_);
    Rendered rendered = render();
    const std::string& text = rendered.bytes;
    // A name of this process's own, so that another process saving the same
    // file never renames a temporary file from under it.
    const std::filesystem::path temporary = file_.string() + "." + std::to_string(::getpid()) + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw std::runtime_error("cannot write the registry file " + temporary.string() + ": " +
                                 std::strerror(errno));
    }
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = ::write(fd, text.data() + written, text.size() - written);
        if (count <= 0) {
            ::close(fd);
            throw std::runtime_error("cannot write the registry file " + temporary.string());
        }
        written += static_cast<std::size_t>(count);
    }
    // No fsync: the rename alone keeps a crashed process from leaving half a
    // hive, and syncing each of the driver's many small writes costs ~15 ms.
    ::close(fd);
    std::error_code failure;
    std::filesystem::rename(temporary, file_, failure);
    if (failure) {
        std::filesystem::remove(temporary, failure);
        throw std::runtime_error("cannot replace the registry file " + file_.string() + ": " + failure.message());
    }
    document_ = std::move(rendered.document);
}

} // namespace korval::host
