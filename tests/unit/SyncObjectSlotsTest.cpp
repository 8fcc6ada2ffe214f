// The lock record's object is called by the install-actions module through
// its table of virtual functions, so each function must sit in the slot the
// contract names, whatever compiler built the module. These tests call each
// slot of the compiled table directly, as such a module does.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "framework/Ownership.h"
#include "framework/SyncObjects.h"

namespace {

// The module's view: slot i of the object's table, called with the object
// as its first argument (the x64 convention for member functions).
template <typename Fn>
Fn Slot(CSyncObject* object, int index) {
    void** table = *reinterpret_cast<void***>(object);
    return reinterpret_cast<Fn>(table[index]);
}

using RuntimeClassFn = const void* (*)(CSyncObject*);
using DestructorFn = void* (*)(CSyncObject*, unsigned);
using SerializeFn = void (*)(CSyncObject*, void*);
using LockFn = BOOL (*)(CSyncObject*, DWORD);
using UnlockCountFn = BOOL (*)(CSyncObject*, LONG, LONG*);
using UnlockFn = BOOL (*)(CSyncObject*);

// Records which function a call reached. One virtual function of its own
// after the inherited ones shows where the base's table ends.
class RecordingObject final : public CSyncObject {
public:
    RecordingObject() : CSyncObject(nullptr) {}
    const void* GetRuntimeClass() const override { return &kRuntimeClassMarker; }
    void* DeletingDestructor(unsigned flags) override {
        calls += L"destroy(" + std::to_wstring(flags) + L")";
        return this;
    }
    void Serialize(void* archive) override { calls += archive == this ? L"serialize(self)" : L"serialize"; }
    BOOL Lock(DWORD timeoutMs) override {
        calls += L"lock(" + std::to_wstring(timeoutMs) + L")";
        return TRUE;
    }
    BOOL Unlock(LONG count, LONG* previous) override {
        calls += L"unlock(" + std::to_wstring(count) + L")";
        if (previous) *previous = 7;
        return TRUE;
    }
    BOOL Unlock() override {
        calls += L"unlock()";
        return 2;
    }
    virtual int FirstOwnFunction() { return 42; }

    static constexpr int kRuntimeClassMarker = 1;
    std::wstring calls;
};

TEST(SyncObjectSlotsTest, EachFunctionSitsInTheSlotTheContractNames) {
    RecordingObject object;
    EXPECT_EQ(Slot<RuntimeClassFn>(&object, 0)(&object), &RecordingObject::kRuntimeClassMarker);

    EXPECT_EQ(Slot<DestructorFn>(&object, 1)(&object, 0), &object);
    EXPECT_EQ(object.calls, L"destroy(0)") << "slot 1 is the destructor, a single slot";
    object.calls.clear();

    Slot<SerializeFn>(&object, 2)(&object, &object);
    EXPECT_EQ(object.calls, L"serialize(self)");
    object.calls.clear();

    EXPECT_TRUE(Slot<LockFn>(&object, 3)(&object, 1234));
    EXPECT_EQ(object.calls, L"lock(1234)");
    object.calls.clear();

    LONG previous = 0;
    EXPECT_TRUE(Slot<UnlockCountFn>(&object, 4)(&object, 3, &previous));
    EXPECT_EQ(object.calls, L"unlock(3)");
    EXPECT_EQ(previous, 7);
    object.calls.clear();

    EXPECT_EQ(Slot<UnlockFn>(&object, 5)(&object), 2);
    EXPECT_EQ(object.calls, L"unlock()");

    // Six slots and no more: a class's own first function comes right after.
    using OwnFn = int (*)(CSyncObject*);
    EXPECT_EQ(Slot<OwnFn>(&object, 6)(&object), 42);
}

TEST(SyncObjectSlotsTest, TheEventAnswersThroughItsSlotsAsTheModuleCallsIt) {
    CEvent* event = new CEvent(FALSE, TRUE, nullptr);
    ASSERT_NE(event->m_hObject, nullptr);
    EXPECT_FALSE(Slot<LockFn>(event, 3)(event, 0)) << "not signalled: the lock is not had";
    event->SetEvent();
    EXPECT_TRUE(Slot<LockFn>(event, 3)(event, 0));
    EXPECT_TRUE(Slot<UnlockFn>(event, 5)(event));
    EXPECT_TRUE(Slot<UnlockCountFn>(event, 4)(event, 1, nullptr));

    // The deleting destructor closes the event's handle and frees the object.
    qx::UniqueHandle copy;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), event->m_hObject, GetCurrentProcess(), copy.put(), 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    const HANDLE original = event->m_hObject;
    EXPECT_EQ(Slot<DestructorFn>(event, 1)(event, 1), static_cast<void*>(event));
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(original, &flags)) << "the event's own handle is closed";
    EXPECT_EQ(WaitForSingleObject(copy.get(), 0), WAIT_OBJECT_0) << "the event itself was left as it was";
}

TEST(SyncObjectSlotsTest, TheLockRecordLocksAndUnlocksThroughTheObject) {
    RecordingObject object;
    {
        UiLock lock(&object);
        EXPECT_EQ(lock.m_hObject, object.m_hObject);
        EXPECT_TRUE(lock.Lock(50));
        EXPECT_TRUE(lock.IsLocked());
    }
    EXPECT_EQ(object.calls, L"lock(50)unlock()") << "the record unlocks when it goes";
}

}  // namespace
