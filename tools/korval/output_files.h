// The files a command is about to write, checked before any is opened: two
// options naming one file are refused (it would be written twice, each
// writer destroying the other's bytes), and a file that exists already is
// replaced only when the user said so with -y, as ffmpeg does.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace korval::tools {

struct NamedFile {
    std::string option; // "--output", "--raw", "the input", ...
    std::filesystem::path path;
    bool written = true; // false: read (an input), only compared
};

// False with `error` naming the option and file at fault. `clash` tells
// which of the two refusals it was: true for two names of one file.
bool checkOutputFiles(const std::vector<NamedFile>& files, bool overwrite, bool& clash, std::string& error);

// Output is written beside its destination under this name, marked with the
// process, and renamed over the destination only once complete.
std::string temporaryNameFor(const std::string& destination);

// Closes and removes the temporary file of an output that was not completed.
void discardTemporary(std::ofstream& file, const std::string& temporary);

} // namespace korval::tools
