// paramsdump: prints a default correction parameter block as key=value lines.
//
//   paramsdump            the general default set
//   paramsdump --photo    the photo editor's default set
#include <cstdio>
#include <cstring>

#include "editing/model/params_fields.h"
#include "editing/model/vxl_params.h"

namespace {

int usage(const char* program)
{
    std::fprintf(stderr, "usage: %s [--general | --photo]\n", program);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    bool photo = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--photo") == 0)
            photo = true;
        else if (std::strcmp(argv[i], "--general") == 0)
            photo = false;
        else
            return usage(argv[0]);
    }
    VXLParams block;
    defaultParams(&block, photo);
    const std::string text = dumpParams(block);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
