// The COM core's object lifetime, through IUnknown as any client holds an object.
#include <gtest/gtest.h>

#include "com_core.h"

namespace tvn::com {
namespace {

LONG g_locksDuringTeardown = -1;

class Probe : public IUnknown {
  public:
    static const InterfaceEntry* Interfaces() {
        static const InterfaceEntry table[] = {{&IID_IUnknown, InterfaceOffset<Probe, IUnknown>()},
                                               {nullptr, 0}};
        return table;
    }

  protected:
    Probe() = default;
    virtual ~Probe() { g_locksDuringTeardown = ModuleLock::Count(); }
};

// The library may be unloaded once the count is zero: the class's own destructor still holds it.
TEST(ComObject, ModuleLockOutlivesTheObjectsTeardown) {
    const LONG before = ModuleLock::Count();
    IUnknown* object = nullptr;
    ASSERT_EQ(
        ComObject<Probe>::CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)),
        S_OK);
    EXPECT_EQ(ModuleLock::Count(), before + 1);
    object->Release();
    EXPECT_EQ(g_locksDuringTeardown, before + 1);
    EXPECT_EQ(ModuleLock::Count(), before);
}

}  // namespace
}  // namespace tvn::com
