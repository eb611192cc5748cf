// Stand-in utility for the launcher test: writes its arguments, one a line, to the
// file named by QLX_PROBE_OUT, then renames it into place so the reader sees it whole.
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    const char* out = std::getenv("QLX_PROBE_OUT");
    if (!out) return 2;
    std::string tmp = std::string(out) + ".part";
    FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) return 3;
    for (int i = 1; i < argc; ++i) std::fprintf(f, "%s\n", argv[i]);
    std::fclose(f);
    return std::rename(tmp.c_str(), out) == 0 ? 0 : 4;
}
