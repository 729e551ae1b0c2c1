// Runs a fuzz target over saved inputs without libFuzzer: every file named
// on the command line, and every file inside every folder named. Lets the
// corpus be replayed as a test in any sanitizer build.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool RunFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
        return false;
    }
    const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(data.data(), data.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    size_t runs = 0;
    bool ok = true;
    for (int k = 1; k < argc; ++k) {
        const std::filesystem::path arg(argv[k]);
        if (std::filesystem::is_directory(arg)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(arg)) {
                if (!entry.is_regular_file()) continue;
                ok = RunFile(entry.path()) && ok;
                ++runs;
            }
        } else {
            ok = RunFile(arg) && ok;
            ++runs;
        }
    }
    std::printf("replayed %zu inputs\n", runs);
    // An empty corpus means the test is not testing anything.
    return ok && runs > 0 ? 0 : 1;
}
