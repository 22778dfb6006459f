// The registration script of TVN.dll: the AppID and class entries under HKEY_CLASSES_ROOT, the
// column-handler entry, the approval under HKEY_LOCAL_MACHINE, the type library and the
// proxy/stub of IFolderSize.
#pragma once

#include "registration.h"

namespace tvn::columns {

extern const Registration::Script kRegistrationScript;

}  // namespace tvn::columns
