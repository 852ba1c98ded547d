// The files a run reads, kept so that no output of the run lands on one of
// them: writing an anaglyph over the photograph it came from would destroy
// the photograph.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

class RunInputs {
public:
    // Finds out what each input is: its device and inode when it exists (so
    // that another name, a symbolic link or a hard link is known as the same
    // file) and its resolved path. Reads no file's content.
    explicit RunInputs(const std::vector<std::string>& inputs);

    // The input that output would write over, or nullptr: the same file
    // when output exists, the same resolved path when it does not yet.
    const std::string* hitBy(const std::string& output) const;

    // The message that refuses output because of the input it would hit.
    static std::string refusal(const std::string& output, const std::string& input);

private:
    using FileId = std::pair<unsigned long long, unsigned long long>; // device, inode
    std::map<FileId, std::string> files_;
    std::map<std::string, std::string> paths_; // resolved path -> the input's name as given
};
