// Critical sections. Every lock of the system is an OwnedCriticalSection, taken in one line:
//
//     auto hold = lock.Enter();  // left when `hold` goes out of scope
//
// A holder may leave early and enter again (hold.Leave(), hold.Enter()) for a stretch that
// must run without the lock, such as a call that waits for a thread which takes it.
#pragma once

#include <windows.h>

namespace acl {

class CriticalSection;

// Owns one CRITICAL_SECTION for its whole life. Not copyable or movable: threads keep
// pointers to it.
class OwnedCriticalSection {
  public:
    explicit OwnedCriticalSection(DWORD spinCount = 1024) {
        InitializeCriticalSectionAndSpinCount(&section_, spinCount);
    }
    ~OwnedCriticalSection() { DeleteCriticalSection(&section_); }
    OwnedCriticalSection(const OwnedCriticalSection&) = delete;
    OwnedCriticalSection& operator=(const OwnedCriticalSection&) = delete;

    // Enters the section; it is left when the returned holder goes.
    [[nodiscard]] CriticalSection Enter();

  private:
    CRITICAL_SECTION section_;
};

// The holder of an entered section: leaves it in its destructor unless it has left already.
// Made only by OwnedCriticalSection::Enter (returned as a prvalue, so never copied or moved).
class CriticalSection {
  public:
    ~CriticalSection() { Leave(); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter() {
        if (!entered_) {
            EnterCriticalSection(section_);
            entered_ = true;
        }
    }
    void Leave() {
        if (entered_) {
            entered_ = false;
            LeaveCriticalSection(section_);
        }
    }

  private:
    friend class OwnedCriticalSection;
    explicit CriticalSection(CRITICAL_SECTION* section) : section_(section) { Enter(); }

    CRITICAL_SECTION* section_;
    bool entered_ = false;
};

inline CriticalSection OwnedCriticalSection::Enter() {
    return CriticalSection(&section_);
}

}  // namespace acl
