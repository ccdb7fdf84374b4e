#include "demogreeting.h"

#define QVX_STRINGIFY2(x) #x
#define QVX_STRINGIFY(x) QVX_STRINGIFY2(x)

extern "C" const char *qvxdemo_greeting()
{
    return "Quorvex demo library, release " QVX_STRINGIFY(QVX_DEMO_RELEASE);
}
