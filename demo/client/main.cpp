// The demo client: a stand-in for the real Quorvex client, so the demo and the
// end-to-end tests can see that the updater handed over to the client it just
// installed. Every start appends one line to client_started.log in the client's
// configuration directory ($QVX_CONFIG_DIR, else ~/.qvxclient/): the release of
// the executable, the release of its shared library, and the arguments.
#include "demogreeting.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/stat.h>

#define QVX_STRINGIFY2(x) #x
#define QVX_STRINGIFY(x) QVX_STRINGIFY2(x)

namespace {

std::string configDir()
{
    const char *dir = std::getenv("QVX_CONFIG_DIR");
    if (dir && *dir) {
        std::string path = dir;
        if (path.back() != '/')
            path += '/';
        return path;
    }
    const char *home = std::getenv("HOME");
    return std::string(home ? home : ".") + "/.qvxclient/";
}

} // namespace

int main(int argc, char **argv)
{
    const char *release = QVX_STRINGIFY(QVX_DEMO_RELEASE);
    std::printf("Quorvex demo client, release %s (%s)\n", release, qvxdemo_greeting());

    const std::string dir = configDir();
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        std::perror(dir.c_str());
        return 1;
    }
    const std::string log = dir + "client_started.log";
    std::FILE *file = std::fopen(log.c_str(), "a");
    if (!file) {
        std::perror(log.c_str());
        return 1;
    }
    std::fprintf(file, "%ld client=%s library=%s args=%d", static_cast<long>(std::time(nullptr)),
                 release, qvxdemo_greeting(), argc - 1);
    for (int i = 1; i < argc; ++i)
        std::fprintf(file, " %s", argv[i]);
    std::fputc('\n', file);
    return std::fclose(file) == 0 ? 0 : 1;
}
