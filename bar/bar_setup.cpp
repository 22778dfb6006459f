#include "bar_setup.h"

#include "inproc_module.h"

namespace tvn::bar {
namespace {

using Registration::KeyRule;
using Registration::Row;
using Registration::Step;

// The value that makes Explorer list the band among its toolbars; every key above it is
// shared with other programs and stays.
const Row kToolbarRows[] = {
    {L"SOFTWARE", KeyRule::Kept},
    {L"SOFTWARE\\Microsoft", KeyRule::Kept},
    {L"SOFTWARE\\Microsoft\\Internet Explorer", KeyRule::Kept},
    {L"SOFTWARE\\Microsoft\\Internet Explorer\\Toolbar", KeyRule::Kept, L"%CLSID%", L"Tolvane Bar"},
};

const Registration::Replacement kReplacements[] = {
    {L"APPID", L"{16C4A225-E0C0-4662-9B0E-BFD3D13B351C}"},
    {L"APPNAME", L"TVNBar"},
    {L"APPFILE", L"TVN Bar.DLL"},
    {L"PROGID", L"TVNBar.TVNWinExpBar"},
    {L"DESCRIPTION", L"Tolvane Bar"},
    {L"CLSID", L"{AD0030F6-9A4E-4815-9CBA-5B66D684ADED}"},
    {L"LIBID", L"{98BAB2B1-606E-4D35-9ADD-E52C8E581720}"},
};

// The proxy/stub comes after the type library, so that ITVNWinExpBar is marshalled by its
// own proxy and stub rather than the type-library marshaller RegisterTypeLib names.
const Step kSteps[] = {
    Step::Table(HKEY_CLASSES_ROOT, Registration::kAppIdRows),
    Step::Table(HKEY_CLASSES_ROOT, Registration::kClassRows),
    Step::Table(HKEY_CLASSES_ROOT, Registration::kInprocServerRows),
    Step::Table(HKEY_LOCAL_MACHINE, kToolbarRows),
    Step::TypeLibrary(Registration::HelpFolder::None),
    Step::ProxyStub(com::ModuleProxyStub()),
};

}  // namespace

const Registration::Script kRegistrationScript{kSteps, kReplacements};

}  // namespace tvn::bar
