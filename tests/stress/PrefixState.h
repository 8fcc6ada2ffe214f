#pragma once
// What a launcher could leave behind in the Wine prefix: every folder and
// file of C:\ (but the system folder and the fixture folders), and every key
// and value under HKLM\SOFTWARE and HKCU\Software. A full look at the
// registry takes seconds under Wine, so after the first one only the parts
// that changed are read again: each part is watched for changes
// (RegNotifyChangeKeyValue) while a case runs. The class registrations
// (HKLM\SOFTWARE\Classes) are only watched, never read: a change below them
// shows as a change of that key, without the detail.
#include <windows.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace qxtest {

struct Allowance {
    std::vector<std::wstring> folders;   // anything at or below these, and their parents' creation
    std::vector<std::wstring> keys;      // "HKLM\SOFTWARE\..." keys: the same
    std::vector<std::pair<std::wstring, std::wstring>> values;   // key and value name: that value only
};

// The allowance of a launcher run: the product's cache folder, its log
// folder under temp (the launcher's TEMP, when the test gave it another),
// the product's registry record and its RunOnce value; and the system's
// root certificates, which the prefix itself maintains.
Allowance ProductAllowance(const std::wstring& launcherTemp = L"");

class PrefixWatch {
public:
    // skip: folders not walked (the fixture folders; C:\windows always is).
    explicit PrefixWatch(const std::vector<std::wstring>& skip);
    ~PrefixWatch();
    PrefixWatch(const PrefixWatch&) = delete;
    PrefixWatch& operator=(const PrefixWatch&) = delete;

    // Takes the current state as the one to compare with and starts
    // watching. Call after the case's own set-up, before the launcher runs.
    void Rebase();
    // One line per entry created, deleted or changed since Rebase that
    // allowed does not cover.
    std::vector<std::wstring> Changes(const Allowance& allowed);

private:
    struct Watch {
        HKEY root;
        std::wstring rootName;
        std::wstring path;   // under root
        bool subtree;        // false: the key's own values and its list of subkeys
        HKEY key;
        HANDLE event;
    };
    void Arm();
    void Disarm();
    void ReadFiles(std::map<std::wstring, std::wstring>& into) const;
    void ReadChangedKeys(std::map<std::wstring, std::wstring>& into);

    std::vector<std::wstring> skip_;
    std::map<std::wstring, std::wstring> state_;   // "D|", "F|", "K|", "V|key|name" -> spelling and mark
    std::vector<Watch> watches_;
};

}  // namespace qxtest
