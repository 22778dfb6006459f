// The version of Tolvane's properties program, in one place: the version block of its
// resources, the about box and an installer take it from here.
#pragma once

#define TVN_VERSION_MAJOR 5
#define TVN_VERSION_MINOR 0
#define TVN_VERSION_PATCH 0
#define TVN_VERSION_BUILD 0
// The version as the version block and the about box write it.
#define TVN_VERSION_TEXT "5.00"
#define TVN_VERSION_TEXT_W L"5.00"
