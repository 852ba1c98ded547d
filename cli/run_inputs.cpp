#include "run_inputs.h"

#include <filesystem>
#include <sys/stat.h>
#include <system_error>

namespace {

// The absolute path with every symbolic link, "." and ".." of its existing
// part resolved; the name as given when even that fails.
std::string resolved(const std::string& path)
{
    std::error_code failure;
    const std::filesystem::path absolute = std::filesystem::absolute(path, failure);
    if (failure)
        return path;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(absolute, failure);
    return failure ? absolute.lexically_normal().string() : canonical.string();
}

} // namespace

RunInputs::RunInputs(const std::vector<std::string>& inputs)
{
    for (const std::string& input : inputs) {
        struct stat info {};
        if (::stat(input.c_str(), &info) == 0)
            files_.emplace(FileId(info.st_dev, info.st_ino), input);
        paths_.emplace(resolved(input), input);
    }
}

const std::string* RunInputs::hitBy(const std::string& output) const
{
    struct stat info {};
    if (::stat(output.c_str(), &info) == 0) {
        const auto it = files_.find(FileId(info.st_dev, info.st_ino));
        return it == files_.end() ? nullptr : &it->second;
    }
    const auto it = paths_.find(resolved(output));
    return it == paths_.end() ? nullptr : &it->second;
}

std::string RunInputs::refusal(const std::string& output, const std::string& input)
{
    return output + ": would write over the input " + input + "; give the output another name";
}
