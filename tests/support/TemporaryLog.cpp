#include "tests/support/TemporaryLog.h"

#include <windows.h>

#include "diag/Logger.h"
#include "tests/support/Files.h"
#include "tests/support/Log.h"

namespace qxtest {

TemporaryLog::TemporaryLog(const std::wstring& name) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + L"qx-" + name + L"-" + std::to_wstring(GetCurrentProcessId()) + L".log";
    Clear();
    CLogger::Instance().Reset();
    CLogger::Instance().SetLogFile(path_.c_str());
    CLogger::Instance().AddLevel(kDefaultLogLevel);
}

TemporaryLog::~TemporaryLog() {
    CLogger::Instance().Reset();
    Clear();
}

std::string TemporaryLog::Bytes() const { return ReadBytes(path_); }

std::vector<std::string> TemporaryLog::Texts(const std::string& type) const { return LogTextsIn(Bytes(), type); }

void TemporaryLog::Clear() const { DeleteFileW(path_.c_str()); }

}  // namespace qxtest
