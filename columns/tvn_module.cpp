// TVN.dll, the column handler: its class table. DllMain and the four exports come from
// common/inproc_module.cpp, the registry script from column_setup.cpp.
#include "column_setup.h"
#include "folder_size.h"
#include "inproc_module.h"

namespace tvn::com {

const ClassEntry kClasses[] = {
    {&CLSID_FolderSize, &kFactoryOf<FolderSize>},
};

const InprocModule kInprocModule{L"Tolvane\x2122", L"TVN.dmp", kClasses,
                                 &columns::kRegistrationScript};

}  // namespace tvn::com
