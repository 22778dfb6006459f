// The registration script of TVN Bar.dll: the AppID and class entries under
// HKEY_CLASSES_ROOT, the toolbar entry under HKEY_LOCAL_MACHINE that lists the band among
// Explorer's toolbars, the type library and the proxy/stub of ITVNWinExpBar.
#pragma once

#include "registration.h"

namespace tvn::bar {

extern const Registration::Script kRegistrationScript;

}  // namespace tvn::bar
