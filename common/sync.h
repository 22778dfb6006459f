// Critical sections: an owning wrapper and the scoped holder used by every lock in the system.
#pragma once

#include <windows.h>

namespace acl {

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

    CRITICAL_SECTION* get() { return &section_; }

  private:
    CRITICAL_SECTION section_;
};

// Scoped holder: enters on demand and leaves in its destructor only if it entered.
class CriticalSection {
  public:
    explicit CriticalSection(CRITICAL_SECTION* section) : section_(section), entered_(false) {}
    explicit CriticalSection(OwnedCriticalSection& owned)
        : section_(owned.get()), entered_(false) {}
    virtual ~CriticalSection() { Leave(); }
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
    CRITICAL_SECTION* section_;
    bool entered_;
};

}  // namespace acl
