#pragma once
// One way to own a handle: a move-only owner that releases what it holds
// when it goes out of scope. A handle the program keeps open on purpose to
// the end of the process is not put in an owner, and says so where it is made.
#include <windows.h>

#include <utility>

namespace qx {

// Traits: the handle type, its invalid values and the call that releases it.
template <typename Traits>
class Unique {
public:
    using Type = typename Traits::Type;
    Unique() = default;
    explicit Unique(Type value) : value_(value) {}
    Unique(Unique&& other) noexcept : value_(other.release()) {}
    Unique& operator=(Unique&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    ~Unique() { reset(); }

    Type get() const { return value_; }
    explicit operator bool() const { return Traits::IsValid(value_); }
    // For calls that hand a handle out through a pointer; releases the old one.
    Type* put() {
        reset();
        return &value_;
    }
    Type release() { return std::exchange(value_, Traits::Invalid()); }
    void reset(Type value = Traits::Invalid()) {
        if (Traits::IsValid(value_)) Traits::Close(value_);
        value_ = value;
    }

private:
    Type value_ = Traits::Invalid();
};

template <typename T, T kInvalid, auto kClose>
struct SimpleTraits {
    using Type = T;
    static T Invalid() { return kInvalid; }
    static bool IsValid(T value) { return value != kInvalid; }
    static void Close(T value) { kClose(value); }
};

// Kernel handles come back as null from some calls and as
// INVALID_HANDLE_VALUE from others: both mean "none".
struct KernelHandleTraits {
    using Type = HANDLE;
    static HANDLE Invalid() { return nullptr; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
struct FindHandleTraits : KernelHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { FindClose(h); }
};
inline void FreeLocal(void* p) { LocalFree(p); }

using UniqueHandle = Unique<KernelHandleTraits>;
using UniqueFind = Unique<FindHandleTraits>;
using UniqueKey = Unique<SimpleTraits<HKEY, nullptr, RegCloseKey>>;
using UniqueModule = Unique<SimpleTraits<HMODULE, nullptr, FreeLibrary>>;
using UniqueLocal = Unique<SimpleTraits<void*, nullptr, FreeLocal>>;
// A Windows Installer handle; kClose is the program's binding of MsiCloseHandle.
template <auto kClose>
using UniqueMsiHandle = Unique<SimpleTraits<unsigned long, 0ul, kClose>>;

// A handle one thread hands to another: the taker owns what it takes; one
// offered and never taken is closed with the mailbox, as is one offered
// over it.
class HandleMailbox {
public:
    HandleMailbox() = default;
    HandleMailbox(const HandleMailbox&) = delete;
    HandleMailbox& operator=(const HandleMailbox&) = delete;
    ~HandleMailbox() { Take(); }
    void Offer(UniqueHandle handle) { UniqueHandle previous(InterlockedExchangePointer(&slot_, handle.release())); }
    UniqueHandle Take() { return UniqueHandle(InterlockedExchangePointer(&slot_, nullptr)); }

private:
    HANDLE volatile slot_ = nullptr;
};

// Reads one registry value; the key is opened for reading and closed again.
// bytes: in, the buffer's size; out, the size of the data read.
inline LSTATUS ReadRegistryValue(HKEY root, const wchar_t* path, const wchar_t* name, void* data, DWORD& bytes,
                                 DWORD* type = nullptr) {
    Unique<SimpleTraits<HKEY, nullptr, RegCloseKey>> key;
    const LSTATUS rc = RegOpenKeyExW(root, path, 0, KEY_READ, key.put());
    if (rc != ERROR_SUCCESS) return rc;
    return RegQueryValueExW(key.get(), name, nullptr, type, static_cast<BYTE*>(data), &bytes);
}

// Whether a key can be opened for reading (it is closed again at once).
inline bool RegistryKeyOpens(HKEY root, const wchar_t* path) {
    Unique<SimpleTraits<HKEY, nullptr, RegCloseKey>> key;
    return RegOpenKeyExW(root, path, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

// Whether a wait's result made the waiting thread the owner of the mutex at
// that index: signalled and abandoned both hand it over.
inline bool WaitTookMutex(DWORD result, DWORD index = 0) {
    return result == WAIT_OBJECT_0 + index || result == WAIT_ABANDONED_0 + index;
}

// Releases a mutex this thread owns when it goes out of scope.
class MutexGuard {
public:
    MutexGuard() = default;
    explicit MutexGuard(HANDLE mutex) : mutex_(mutex) {}
    MutexGuard(const MutexGuard&) = delete;
    MutexGuard& operator=(const MutexGuard&) = delete;
    ~MutexGuard() { Release(); }
    void Release() {
        if (mutex_) ReleaseMutex(std::exchange(mutex_, nullptr));
    }

private:
    HANDLE mutex_ = nullptr;
};

}  // namespace qx
