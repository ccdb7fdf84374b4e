#pragma once

// The demo client's shared library: one release of it says which one it is.
extern "C" const char *qvxdemo_greeting();
