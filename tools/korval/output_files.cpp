#include "tools/korval/output_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <system_error>
#include <unordered_map>

namespace korval::tools {
namespace {

// One key per file: an existing file by its device and inode (so hard links
// and symbolic links meet), a new one by its path with every link resolved.
// `exists` is set for an existing file that is not a folder (a folder is
// refused later, with its own message).
std::string identity(const std::filesystem::path& path, bool& exists)
{
    struct stat facts {};
    const bool found = ::stat(path.c_str(), &facts) == 0;
    exists = found && !S_ISDIR(facts.st_mode);
    if (found) {
        return "inode " + std::to_string(facts.st_dev) + ":" + std::to_string(facts.st_ino);
    }
    std::error_code failure;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(std::filesystem::absolute(path), failure);
    return "path " + (failure ? path.lexically_normal().string() : resolved.string());
}

std::string named(const NamedFile& file)
{
    return file.option + " '" + file.path.string() + "'";
}

// The folder a new file goes into exists (a file cannot be made elsewhere).
bool folderExists(const NamedFile& file, std::string& error)
{
    const std::filesystem::path folder = file.path.parent_path();
    std::error_code failure;
    if (folder.empty() || std::filesystem::is_directory(folder, failure)) {
        return true;
    }
    error = "cannot create " + named(file) + ": no folder '" + folder.string() + "'";
    return false;
}

} // namespace

bool checkOutputFiles(const std::vector<NamedFile>& files, bool overwrite, bool& clash, std::string& error)
{
    std::unordered_map<std::string, std::size_t> seen;
    const NamedFile* existing = nullptr;
    clash = false;
    for (std::size_t index = 0; index < files.size(); ++index) {
        bool exists = false;
        const auto [earlier, fresh] = seen.emplace(identity(files[index].path, exists), index);
        if (!fresh && (files[index].written || files[earlier->second].written)) {
            clash = true;
            error = named(files[earlier->second]) + " and " + named(files[index]) +
                    " are the same file: give each its own name";
            return false;
        }
        if (exists && files[index].written && existing == nullptr) {
            existing = &files[index];
        }
        if (files[index].written && fresh && !folderExists(files[index], error)) {
            return false;
        }
    }
    if (existing != nullptr && !overwrite) {
        error = named(*existing) + " exists already: -y replaces it (nothing was written)";
        return false;
    }
    return true;
}

std::string temporaryNameFor(const std::string& destination)
{
    return destination + ".korval-" + std::to_string(::getpid()) + ".part";
}

void discardTemporary(std::ofstream& file, const std::string& temporary)
{
    file.close();
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
}

} // namespace korval::tools
