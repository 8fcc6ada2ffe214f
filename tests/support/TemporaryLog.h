#pragma once
// For the unit tests: the process's logger pointed at a fresh file in the
// temporary folder, at the default level, for as long as the object lives;
// then the logger is back to its state before set-up and the file is gone.
#include <string>
#include <vector>

namespace qxtest {

class TemporaryLog {
public:
    // The file is "<temp>\qx-<name>-<process id>.log".
    explicit TemporaryLog(const std::wstring& name);
    ~TemporaryLog();
    TemporaryLog(const TemporaryLog&) = delete;
    TemporaryLog& operator=(const TemporaryLog&) = delete;

    const std::wstring& Path() const { return path_; }
    std::string Bytes() const;
    // The texts of its records, of one type or of all (the file must hold
    // whole records only).
    std::vector<std::string> Texts(const std::string& type = "") const;
    // Removes the file: the next record starts a new one.
    void Clear() const;

private:
    std::wstring path_;
};

}  // namespace qxtest
