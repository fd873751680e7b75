// Writes the OBS transition's locale file from the settings table:
//   granulix_obs_locale OUT.ini
#include <cstdio>
#include <fstream>

#include "transition_fields.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: granulix_obs_locale OUT.ini\n");
        return 2;
    }
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out << granulix::obs::englishLocale();
    out.close();
    if (!out) {
        std::fprintf(stderr, "granulix_obs_locale: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
