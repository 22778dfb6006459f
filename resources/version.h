// The product version, in one place: the version blocks of the deliverables, the setup
// program's file name and its Add/Remove Programs entry all take it from here (the build reads
// it for the setup). Keep the numbers and the text in step.
#pragma once

#define TVN_VERSION_MAJOR 5
#define TVN_VERSION_MINOR 0
#define TVN_VERSION_PATCH 0
#define TVN_VERSION_BUILD 0
// The version as the version blocks and the setup write it.
#define TVN_VERSION_TEXT "5.00"
#define TVN_VERSION_TEXT_W L"5.00"
