#include "quorvex/file.h"

#include <cstdio>
#include <random>

namespace quorvex {

namespace {

std::string Folder(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string HiddenBeside(const std::string& target) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    char tag[20];
    std::snprintf(tag, sizeof tag, ".%016llx", static_cast<unsigned long long>(random()));
    const std::string folder = Folder(target);
    return folder + "." + target.substr(folder.size()) + tag + PendingFile::kSuffix;
}

} // namespace

PendingFile::PendingFile(const std::string& target, std::optional<unsigned> permissions,
                         SystemError& error)
    : m_target(target) {
    const std::string folder = Folder(target);
    m_file = File::CreateUnnamed(folder.empty() ? "." : folder, permissions, error);
    if (m_file.IsOpen())
        return;
    m_hidden = HiddenBeside(target);
    m_file = File::CreateNew(m_hidden, permissions, error);
    if (!m_file.IsOpen())
        m_hidden.clear();
}

PendingFile::~PendingFile() {
    m_file.Close();
    if (!m_hidden.empty())
        files::Remove(m_hidden);
}

bool PendingFile::Publish(SystemError& error) {
    // A file without a name takes the final one directly when that is free; else it is
    // named hidden first and renamed over the old file.
    if (m_hidden.empty()) {
        if (m_file.LinkTo(m_target, error)) {
            if (const SystemError closed = m_file.Close(); closed != 0) {
                files::Remove(m_target); // a name that was free before: nothing is lost
                error = closed;
                return false;
            }
            return true;
        }
        m_hidden = HiddenBeside(m_target);
        if (!m_file.LinkTo(m_hidden, error)) {
            m_hidden.clear();
            return false;
        }
    }
    if (const SystemError closed = m_file.Close(); closed != 0) {
        error = closed;
        return false;
    }
    if (!files::Replace(m_hidden, m_target, error))
        return false;
    m_hidden.clear();
    return true;
}

} // namespace quorvex
