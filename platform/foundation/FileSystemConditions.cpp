#include "platform/foundation/FileSystemConditions.h"

#include <cerrno>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>

namespace platform {

namespace {

struct SimulatedFileSystem {
    std::mutex mutex;
    std::map<std::string, uint64_t> freeSpace;  // normalised folder → bytes
    std::set<std::string> fullFolders;
    std::map<std::string, int> unreadable;  // normalised path → errno
};

SimulatedFileSystem& simulatedFileSystem() {
    static auto* state = new SimulatedFileSystem();  // never destroyed: writes may run at exit
    return *state;
}

std::string normalisedPath(const std::string& path) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    std::string text = (ec ? std::filesystem::path(path) : absolute).lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

bool isInside(const std::string& path, const std::string& folder) {
    return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                              (folder == "/" || path[folder.size()] == '/'));
}

}  // namespace

namespace testing {

void FileSystemConditions::setFreeSpace(const std::string& folder, std::optional<uint64_t> freeBytes) {
    auto& state = simulatedFileSystem();
    std::lock_guard lock(state.mutex);
    if (freeBytes) state.freeSpace[normalisedPath(folder)] = *freeBytes;
    else state.freeSpace.erase(normalisedPath(folder));
}

void FileSystemConditions::setWritesFail(const std::string& folder, bool fail) {
    auto& state = simulatedFileSystem();
    std::lock_guard lock(state.mutex);
    if (fail) state.fullFolders.insert(normalisedPath(folder));
    else state.fullFolders.erase(normalisedPath(folder));
}

void FileSystemConditions::setReadsFail(const std::string& path, std::optional<int> error) {
    auto& state = simulatedFileSystem();
    std::lock_guard lock(state.mutex);
    if (error) state.unreadable[normalisedPath(path)] = *error;
    else state.unreadable.erase(normalisedPath(path));
}

}  // namespace testing

namespace files {

std::optional<uint64_t> simulatedFreeSpace(const std::string& path) {
    auto& state = simulatedFileSystem();
    std::lock_guard lock(state.mutex);
    if (state.freeSpace.empty()) return std::nullopt;
    std::string normal = normalisedPath(path);
    std::optional<uint64_t> found;
    size_t depth = 0;
    for (const auto& [folder, bytes] : state.freeSpace) {
        if (isInside(normal, folder) && (!found || folder.size() >= depth)) {
            found = bytes;
            depth = folder.size();
        }
    }
    return found;
}

bool writeFailsAt(const std::string& path) {
    auto& state = simulatedFileSystem();
    std::lock_guard lock(state.mutex);
    if (state.fullFolders.empty()) return false;
    std::string normal = normalisedPath(path);
    for (const auto& folder : state.fullFolders) {
        if (isInside(normal, folder)) {
            errno = ENOSPC;
            return true;
        }
    }
    return false;
}

bool readFailsAt(const std::string& path) {
    auto& state = simulatedFileSystem();
    std::lock_guard lock(state.mutex);
    if (state.unreadable.empty()) return false;
    std::string normal = normalisedPath(path);
    for (const auto& [unreadable, error] : state.unreadable) {
        if (isInside(normal, unreadable)) {
            errno = error;
            return true;
        }
    }
    return false;
}

}  // namespace files

}  // namespace platform
