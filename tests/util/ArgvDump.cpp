// A program for the command-line tests: writes each of its arguments, argv[0]
// included, followed by a NUL byte, to the file named by PELLUX_ARGV_DUMP. The file
// appears complete or not at all (written beside it, then renamed).
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char **argv)
{
    const char *target = std::getenv("PELLUX_ARGV_DUMP");
    if (!target)
        return 2;
    const std::string partial = std::string(target) + ".part";
    std::FILE *out = std::fopen(partial.c_str(), "wb");
    if (!out)
        return 1;
    for (int i = 0; i < argc; ++i)
        std::fwrite(argv[i], 1, std::string(argv[i]).size() + 1, out);
    std::fclose(out);
    return std::rename(partial.c_str(), target) == 0 ? 0 : 1;
}
