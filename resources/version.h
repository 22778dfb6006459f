// The product version, in one place: the version blocks of the deliverables, the setup
// program's file name and its Add/Remove Programs entry all take it from here (the build reads
// TVN_VERSION_TEXT for the setup). Keep the numbers and the text in step.
#pragma once

#define TVN_VERSION_MAJOR 5
#define TVN_VERSION_MINOR 0
// FILEVERSION / PRODUCTVERSION of a version block.
#define TVN_VERSION_BINARY 5, 0, 0, 0
// The version as users read it: the string values of a version block and the setup.
#define TVN_VERSION_TEXT "5.00"
