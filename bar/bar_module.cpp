// TVN Bar.dll, the Explorer toolbar band: its class table. DllMain and the four exports come
// from common/inproc_module.cpp, the registry script from bar_setup.cpp.
#include "band_object.h"
#include "bar_setup.h"
#include "inproc_module.h"

namespace tvn::com {

const ClassEntry kClasses[] = {
    {&CLSID_TVNWinExpBar, &kFactoryOf<bar::BandObject>},
};

const InprocModule kInprocModule{L"Tolvane\x2122", L"TVN Bar.dmp", kClasses,
                                 &bar::kRegistrationScript};

}  // namespace tvn::com
