// A program built with the shipped binaries' runtime that imports one function Windows Vista
// brought (GetTickCount64): the load check must name it, or it cannot be trusted to find one
// in a shipped binary.
#include <windows.h>

int main() {
    return static_cast<int>(GetTickCount64() & 1);
}
