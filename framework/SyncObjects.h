#pragma once
// Synchronisation objects and the single-object lock record. The lock record
// crosses into the install-actions module, so its layout and the object's
// virtual functions are fixed here and included by both sides:
//   UiLock { CSyncObject* object; HANDLE handle; 32-bit held flag }
//   CSyncObject slots: run-time class, destructor (one slot), serialise,
//   lock(timeout), unlock(count, previous count), unlock().
#include <windows.h>

#include <cstddef>
#include <cstdint>

class CSyncObject {
public:
    explicit CSyncObject(HANDLE handle = nullptr) : m_hObject(handle) {}
    CSyncObject(const CSyncObject&) = delete;
    CSyncObject& operator=(const CSyncObject&) = delete;

    virtual const void* GetRuntimeClass() const { return nullptr; }
    // The destructor's one slot. A virtual destructor would take two slots
    // with this compiler and move every function after it, so a module built
    // with another compiler would call the wrong one. Destroys the object;
    // flags bit 0 also frees its memory (a deleting destructor). Returns the
    // object's address.
    virtual void* DeletingDestructor(unsigned flags) = 0;
    virtual void Serialize(void* /*archive*/) {}
    // Satisfied when the wait ends with the object signalled or abandoned.
    virtual BOOL Lock(DWORD timeoutMs) {
        DWORD r = WaitForSingleObject(m_hObject, timeoutMs);
        return r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
    }
    virtual BOOL Unlock(LONG /*count*/, LONG* /*previous*/) { return TRUE; }
    virtual BOOL Unlock() = 0;

    // The object owns its handle. The field's place is part of the contract
    // above, so it is a plain handle closed by the destructor.
    HANDLE m_hObject;

protected:
    // Not virtual: see DeletingDestructor. Objects are destroyed through
    // their own final class.
    ~CSyncObject() {
        if (m_hObject) CloseHandle(m_hObject);
    }
};

// A named or unnamed event; unlocking leaves its state alone.
class CEvent final : public CSyncObject {
public:
    CEvent(BOOL initiallySignalled, BOOL manualReset, const wchar_t* name)
        : CSyncObject(CreateEventW(nullptr, manualReset, initiallySignalled, name)) {}
    // Takes over an event made elsewhere; closes it when destroyed.
    explicit CEvent(HANDLE event) : CSyncObject(event) {}
    ~CEvent() = default;
    void* DeletingDestructor(unsigned flags) override {
        if (flags & 1u) {
            delete this;
        } else {
            this->~CEvent();
        }
        return this;
    }
    BOOL SetEvent() { return ::SetEvent(m_hObject); }
    BOOL ResetEvent() { return ::ResetEvent(m_hObject); }
    BOOL Unlock() override { return TRUE; }
    using CSyncObject::Unlock;
};

// The lock record over one synchronisation object.
struct UiLock {
    CSyncObject* m_pObject;
    HANDLE m_hObject;
    int32_t m_bAcquired;

    explicit UiLock(CSyncObject* object)
        : m_pObject(object), m_hObject(object ? object->m_hObject : nullptr), m_bAcquired(0) {}
    UiLock(const UiLock&) = delete;
    UiLock& operator=(const UiLock&) = delete;
    ~UiLock() { Unlock(); }

    BOOL Lock(DWORD timeoutMs = INFINITE) {
        m_bAcquired = m_pObject ? m_pObject->Lock(timeoutMs) : FALSE;
        return m_bAcquired;
    }
    BOOL Unlock() {
        if (m_bAcquired && m_pObject && m_pObject->Unlock()) m_bAcquired = 0;
        return !m_bAcquired;
    }
    BOOL IsLocked() const { return m_bAcquired != 0; }
};

static_assert(sizeof(int32_t) == 4, "the held flag is 32 bits");
static_assert(offsetof(UiLock, m_hObject) == sizeof(void*), "lock record layout");
static_assert(offsetof(UiLock, m_bAcquired) == 2 * sizeof(void*), "lock record layout");
