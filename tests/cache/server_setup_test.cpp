// The server's command-line switches and its registration table.
#include "server_setup.h"

#include <gtest/gtest.h>

#include <string>

namespace tvn::server {
namespace {

TEST(ServerCommandLine, SwitchRules) {
    const struct {
        const wchar_t* line;
        ServerCommand command;
    } cases[] = {
        {L"\"C:\\Program Files\\Tolvane\\TVN Cache.exe\" /RegServer", ServerCommand::RegServer},
        {L"\"C:\\Program Files\\Tolvane\\TVN Cache.exe\" -regserver", ServerCommand::RegServer},
        {L"\"C:\\Program Files\\Tolvane\\TVN Cache.exe\" /UNREGSERVER", ServerCommand::UnregServer},
        {L"\"C:\\Program Files\\Tolvane\\TVN Cache.exe\" -UnRegServer\t/x",
         ServerCommand::UnregServer},
        {L"TVN.exe /RegServer", ServerCommand::RegServer},
        {L"TVN.exe /RegServerX", ServerCommand::Run},
        {L"TVN.exe /RegServer/", ServerCommand::Run},
        {L"TVN.exe RegServer", ServerCommand::Run},
        {L"TVN.exe /Reg", ServerCommand::Run},
        {L"TVN.exe /", ServerCommand::Run},
        {L"TVN.exe -", ServerCommand::Run},
        {L"TVN.exe /Embedding", ServerCommand::Run},
        {L"\"C:\\Program Files\\Tolvane\\TVN Cache.exe\" -Embedding", ServerCommand::Run},
        {L"TVN.exe", ServerCommand::Run},
        {L"", ServerCommand::Run},
        // A word that does not match is passed over and the scan goes on.
        {L"TVN.exe /RegServerX -RegServer", ServerCommand::RegServer},
        {L"TVN.exe -x/UnregServer", ServerCommand::UnregServer},
        // UnregServer is tried first wherever it stands.
        {L"TVN.exe /RegServer /UnregServer", ServerCommand::RegServer},
        // Switch words inside the program path never count.
        {L"\"C:\\Tools\\-RegServer\\TVN Cache.exe\" -Embedding", ServerCommand::Run},
        {L"\"C:\\Tools -RegServer x\\TVN Cache.exe\" -Embedding", ServerCommand::Run},
        {L"\"C:\\x /UnregServer\\TVN Cache.exe\"", ServerCommand::Run},
        {L"C:\\x\\/RegServer", ServerCommand::Run},
        {L"C:\\x\\TVN.exe /regSERVER", ServerCommand::RegServer},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseServerCommandLine(c.line), c.command)
            << std::string(c.line, c.line + wcslen(c.line));
    }
    EXPECT_EQ(ParseServerCommandLine(nullptr), ServerCommand::Run);
}

}  // namespace
}  // namespace tvn::server
