#include "column_setup.h"

#include "inproc_module.h"

namespace tvn::columns {
namespace {

using Registration::KeyRule;
using Registration::Row;
using Registration::Step;

// Beside the entries of every class: the column-handler entry Explorer enumerates, and the
// approval below HKEY_LOCAL_MACHINE it looks for when it loads extensions.
const Row kColumnHandlerRows[] = {
    {L"Folder", KeyRule::Kept},
    {L"Folder\\Shellex", KeyRule::Kept},
    {L"Folder\\Shellex\\ColumnHandlers", KeyRule::Kept},
    {L"Folder\\Shellex\\ColumnHandlers\\%CLSID%", KeyRule::ReplacedWhole, L"",
     L"Tolvane column ext"},
};
const Row kApprovedRows[] = {
    {L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved", KeyRule::Kept,
     L"%CLSID%", L"Tolvane column ext"},
};

const Registration::Replacement kReplacements[] = {
    {L"APPID", L"{6B0D6F57-2E1D-40A9-9090-831B7A1563BE}"},
    {L"APPNAME", L"TVN"},
    {L"APPFILE", L"TVN.DLL"},
    {L"PROGID", L"TVN.FolderSize"},
    {L"DESCRIPTION", L"FolderSize Class"},
    {L"CLSID", L"{E35D2993-845A-41D4-B44B-33D757A8B4B3}"},
    {L"LIBID", L"{F52B8A72-1D8A-4A66-89DC-5DA85F1744D0}"},
};

// The proxy/stub comes after the type library, so that IFolderSize is marshalled by its own
// proxy and stub rather than the type-library marshaller RegisterTypeLib names.
const Step kSteps[] = {
    Step::Table(HKEY_CLASSES_ROOT, Registration::kAppIdRows),
    Step::Table(HKEY_CLASSES_ROOT, Registration::kClassRows),
    Step::Table(HKEY_CLASSES_ROOT, Registration::kInprocServerRows),
    Step::Table(HKEY_CLASSES_ROOT, kColumnHandlerRows),
    Step::Table(HKEY_LOCAL_MACHINE, kApprovedRows),
    Step::TypeLibrary(Registration::HelpFolder::Module),
    Step::ProxyStub(com::ModuleProxyStub()),
};

}  // namespace

const Registration::Script kRegistrationScript{kSteps, kReplacements};

}  // namespace tvn::columns
