#include <windows.h>

#include "app/mainflow.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) { return runMain(instance); }
