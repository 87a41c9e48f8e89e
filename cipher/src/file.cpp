// What both platforms' file layers share.

#include "quorvex/file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>

namespace quorvex {

std::string SystemMessage(SystemError error); // in the platform's own words

std::string DescribeError(SystemError error) {
    switch (error) {
    case kNotRegularFile:
        return "not a regular file";
    case kIsLink:
        return "symbolic link";
    case kInterrupted:
        return "interrupted";
    case kIsFolder:
        return "is a folder";
    case kReplaced:
        return "replaced by another folder while the run went on";
    default:
        return SystemMessage(error);
    }
}

std::string HiddenNameFor(const std::string& name) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    char tag[20];
    std::snprintf(tag, sizeof tag, ".%016llx", static_cast<unsigned long long>(random()));
    // A folder entry holds 255 bytes (on Windows 255 UTF-16 units, never more than the
    // bytes): a long name is cut short, between two characters.
    constexpr std::size_t kNameMax = 255;
    const std::size_t room = kNameMax - 1 - std::strlen(tag) - std::strlen(PendingFile::kSuffix);
    std::size_t end = std::min(name.size(), room);
    while (end < name.size() && end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
        --end;
    std::string hidden = ".";
    hidden.append(name, 0, end).append(tag).append(PendingFile::kSuffix);
    return hidden;
}

} // namespace quorvex
